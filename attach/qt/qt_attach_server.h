#pragma once

#include <QLocalServer>
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "attach/attach_hub.h"
#include "panelstate/panel_core.h"
#include "platform/notice.h"

class QLocalSocket;

namespace orv {

// The service's local socket for attached windows: each window's Unix user is learnt from the
// socket (SO_PEERCRED) and held to the operators' group; each gets the service's state and its
// actions are performed on the service's panel as that user.
class QtAttachServer : public QObject {
 public:
  struct Options {
    std::string socket_path = kDefaultPanelSocket;
    std::string group = kOperatorsGroup;
    // A listening socket made by systemd (a socket unit), used as it is, with its owner and
    // mode; -1: the server makes its own at socket_path.
    int inherited_socket = -1;
    AttachLimits limits;
    // Each window that attaches, is refused or goes, in words ("alice attached, 2 windows").
    std::function<void(const std::string&)> said;
  };

  QtAttachServer(PanelCore& panel, ServiceLine line, Options options, NoticeFn notice);
  ~QtAttachServer() override;
  QtAttachServer(const QtAttachServer&) = delete;
  QtAttachServer& operator=(const QtAttachServer&) = delete;

  // Listens on the inherited socket, or at the socket path, mode 0660 with the operators' group
  // (0600, said as a warning, where there is no such group); false, said as a notice, when it
  // cannot (another service answers there, or the socket cannot be given to the group).
  bool Listen();
  // Every tick: the service's state to every window.
  void Tick();
  std::size_t clients() const { return hub_.clients(); }

 private:
  void Accept(QLocalSocket* socket);
  void Drop(int id);
  // A page of the service's journal for a window's user, once the gate lets it see the history.
  JournalPage ReadHistory(const JournalPageQuery& query, const std::string& user,
                          std::string& error);
  // Why the journal cannot be read; empty once it can.
  std::string OpenHistoryReader(const Journal& journal);

  PanelCore& panel_;
  std::unique_ptr<ActionPerformer> actions_;
  Options options_;
  NoticeFn notice_;
  AttachHub hub_;
  QLocalServer server_;
  std::map<int, QLocalSocket*> sockets_;
  std::map<int, std::string> users_;
  Connection ended_log_ins_;
  JournalReader history_reader_;
  Journal* watched_journal_ = nullptr;
  Connection journal_commits_;
  // Gone with the server: a PIN check answered later finds it so.
  std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace orv
