// The message store of the default profile as a Maildir++ folder tree: the root's own cur/new/tmp and
// the folders ".Outbox" and ".Sent Items" beside them (other mail programs show them as Outbox and Sent
// Items). Callers: the Extended MAPI layer (store, folders, messages), marlin3-mail (check).
// A message is written under tmp/ and renamed into place, so a reader never sees half a message and a
// crash leaves at most a stray file in tmp/. Moving a message between folders is one rename.
#pragma once

#include <string>

namespace mapix {

enum class StoreError {
  None,
  CannotCreate,  // a folder of the tree could not be made (or is not a folder)
  CannotWrite,   // a message file could not be created or placed
  NotFound,      // the message is not where it was said to be
};

const char* StoreErrorText(StoreError error);

class MaildirStore {
 public:
  enum class Folder { Outbox, SentItems };

  explicit MaildirStore(std::string root);

  // Creates the tree as needed (mode 0700).
  StoreError Open();
  const std::string& Root() const { return m_strRoot; }
  // The Maildir folder of a MAPI folder, ending with "/".
  std::string FolderPath(Folder folder) const;

  // A fresh file under the folder's tmp/: its path and an open descriptor (O_CLOEXEC, 0600).
  StoreError CreateTemp(Folder folder, std::string& path, int& fd) const;
  // Renames a tmp/ file into the folder's new/ (unread) and gives the new path.
  StoreError Deliver(Folder folder, const std::string& tempPath, std::string& placedPath) const;
  // Moves a placed message into another folder's cur/ marked seen, and gives the new path.
  StoreError Move(const std::string& placedPath, Folder to, std::string& movedPath) const;

 private:
  std::string UniqueName() const;

  std::string m_strRoot;
};

}  // namespace mapix
