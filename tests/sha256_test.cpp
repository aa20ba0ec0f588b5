// SHA-256 against the FIPS 180-4 examples, whole and fed in pieces split at every place.
#include <gtest/gtest.h>

#include <string>

#include "platform/sha256.h"

namespace orv {
namespace {

struct Vector {
  std::string message;
  const char* digest;
};

const Vector kVectors[] = {
    {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    // 448 bits: the padding no longer fits the block and spills into a second one.
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
     "opqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
};

TEST(Sha256, FipsExamples) {
  for (const Vector& v : kVectors) {
    EXPECT_EQ(Sha256::Hex(Sha256::Of(v.message)), v.digest) << v.message.size() << " bytes";
  }
}

TEST(Sha256, FedInTwoPiecesAtEveryPlace) {
  for (const Vector& v : kVectors) {
    if (v.message.size() > 200) continue;
    for (std::size_t cut = 0; cut <= v.message.size(); ++cut) {
      Sha256 hash;
      hash.Update(std::string_view(v.message).substr(0, cut));
      hash.Update(std::string_view(v.message).substr(cut));
      EXPECT_EQ(Sha256::Hex(hash.Finish()), v.digest) << v.message << " cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace orv
