#include "app/handover_window.h"

#include <QPointer>
#include <memory>
#include <string>

#include "handover/handover_signoff.h"
#include "handover/qt/qt_handover_dialog.h"

namespace orv {

void AddHandoverButton(const AddButtonFn& add_button, MainForm& form,
                       const std::filesystem::path& journal_file, QWidget* parent) {
  const auto sign_off = [&form](const SignOffParty& outgoing, const SignOffParty& incoming,
                                const std::string& sha256,
                                std::function<void(const SignOffOutcome&)> done) {
    const bool allowed = form.Guarded(Action::kHandOver, [&](const Actor& by) {
      SignOffHandover(
          form.gate(), MainForm::kWindowOrigin, outgoing, incoming, sha256,
          [&form] { return form.AccessNow(); },
          [&form, by, done](const SignOffOutcome& outcome) {
            if (outcome.signed_off) form.Record(JournalKind::kOperator, outcome.text, by);
            done(outcome);
          });
    });
    if (!allowed) done({false, "not signed off: Hand over refused"});
  };
  // Qt's parent owns the window; the button only finds it again while it exists.
  auto dialog = std::make_shared<QPointer<QtHandoverDialog>>();
  add_button("Handover", [&form, journal_file, parent, sign_off, dialog] {
    if (!form.Guarded(Action::kHandOver, [](const Actor&) {})) return;
    if (dialog->isNull()) *dialog = new QtHandoverDialog(journal_file, sign_off, parent);
    QtHandoverDialog* window = dialog->data();
    window->Refresh();
    window->show();
    window->raise();
    window->activateWindow();
  });
}

}  // namespace orv
