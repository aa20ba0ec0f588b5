#include <gtest/gtest.h>

#include <QCoreApplication>

// The Qt tests need an application object for their event loop; one for the whole run.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
