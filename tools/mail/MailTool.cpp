// marlin3-mail: creates and checks the default mail profile and sends a test message through it.
//   marlin3-mail path
//   marlin3-mail create --address A --host H [--name N] [--port P] [--security tls|starttls|none]
//                       [--user U (--password-file F | --password-secret "ATTR VALUE ...")]
//                       [--ca-file F] [--timeout S] [--store DIR|none] [--force]
//   marlin3-mail check
//   marlin3-mail send-test TO
// The profile is written only after it loads back cleanly, with mode 0600. The password itself is
// never asked for, shown or stored here: the profile names where it comes from.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/mapix/DefaultOutbox.h"
#include "platform/mapix/MailProfile.h"
#include "platform/mapix/MaildirStore.h"
#include "platform/mapix/Mapix.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: marlin3-mail path\n"
               "       marlin3-mail create --address A --host H [--name N] [--port P]\n"
               "                           [--security tls|starttls|none] [--user U]\n"
               "                           [--password-file F | --password-secret \"ATTR VALUE ...\"]\n"
               "                           [--ca-file F] [--timeout S] [--store DIR|none] [--force]\n"
               "       marlin3-mail check\n"
               "       marlin3-mail send-test TO\n");
  return 2;
}

std::string Describe(const std::string& path, mapix::ProfileError error, int line) {
  return path + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " +
         mapix::ProfileErrorText(error);
}

bool MakeParents(const std::string& path) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

int Create(const std::vector<std::string>& args) {
  std::map<std::string, std::string> options;
  bool force = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--force") {
      force = true;
      continue;
    }
    if (args[i].rfind("--", 0) != 0 || i + 1 >= args.size()) return Usage();
    options[args[i].substr(2)] = args[i + 1];
    ++i;
  }
  static const char* const known[] = {"address",  "host",    "name",          "port",
                                      "security", "user",    "password-file", "password-secret",
                                      "ca-file",  "timeout", "store"};
  for (const auto& [key, value] : options) {
    bool ok = false;
    for (const char* name : known) ok = ok || key == name;
    if (!ok) {
      std::fprintf(stderr, "marlin3-mail: unknown option --%s\n", key.c_str());
      return 2;
    }
    if (value.find_first_of("\r\n") != std::string::npos) {
      std::fprintf(stderr, "marlin3-mail: --%s holds a line break\n", key.c_str());
      return 2;
    }
  }
  if (options.count("password-file") && options.count("password-secret")) return Usage();
  const std::string path = mapix::DefaultProfilePath();
  struct stat info {};
  if (!force && stat(path.c_str(), &info) == 0) {
    std::fprintf(stderr, "marlin3-mail: %s exists (use --force to replace it)\n", path.c_str());
    return 1;
  }
  std::string text =
      "# marlin3 default mail profile (docs/mail.md). Check it with: marlin3-mail check\n[sender]\n";
  if (options.count("name")) text += "name = " + options["name"] + "\n";
  text += "address = " + options["address"] + "\n\n[smtp]\nhost = " + options["host"] + "\n";
  for (const char* key : {"port", "security", "user", "ca-file", "timeout"})
    if (options.count(key)) text += std::string(key) + " = " + options[key] + "\n";
  if (options.count("password-file")) text += "password = file:" + options["password-file"] + "\n";
  if (options.count("password-secret")) text += "password = secret:" + options["password-secret"] + "\n";
  text += "\n[store]\nfolder = " + (options.count("store") ? options["store"] : mapix::DefaultStoreFolder()) +
          "\n";
  text += "\n[addresses]\n# Name = address\n";
  if (!MakeParents(path)) {
    std::fprintf(stderr, "marlin3-mail: cannot create the folder of %s\n", path.c_str());
    return 1;
  }
  // Written beside the target and checked before it replaces anything.
  const std::string temp = path + ".new";
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) || fsync(fd) != 0) {
    if (fd >= 0) close(fd);
    unlink(temp.c_str());
    std::fprintf(stderr, "marlin3-mail: cannot write %s\n", temp.c_str());
    return 1;
  }
  close(fd);
  mapix::MailProfile profile;
  int line = 0;
  const mapix::ProfileError error = mapix::LoadProfile(temp, profile, &line);
  if (error != mapix::ProfileError::None) {
    unlink(temp.c_str());
    std::fprintf(stderr, "marlin3-mail: %s\n", mapix::ProfileErrorText(error));
    return 1;
  }
  if (rename(temp.c_str(), path.c_str()) != 0) {
    unlink(temp.c_str());
    std::fprintf(stderr, "marlin3-mail: cannot replace %s\n", path.c_str());
    return 1;
  }
  std::printf("created %s\n", path.c_str());
  return 0;
}

int Check() {
  const std::string path = mapix::DefaultProfilePath();
  mapix::MailProfile profile;
  int line = 0;
  mapix::ProfileError error = mapix::LoadProfile(path, profile, &line);
  if (error != mapix::ProfileError::None) {
    std::printf("%s\n", Describe(path, error, line).c_str());
    return 1;
  }
  std::printf("profile   %s\n", path.c_str());
  std::printf("sender    %s%s%s\n", profile.senderName.c_str(), profile.senderName.empty() ? "" : " ",
              ("<" + profile.senderAddress + ">").c_str());
  const char* security = profile.security == mapix::Security::Tls        ? "tls"
                         : profile.security == mapix::Security::StartTls ? "starttls"
                                                                         : "none";
  std::printf("server    %s:%d (%s), timeout %d s\n", profile.host.c_str(), profile.port, security,
              profile.timeoutSeconds);
  int result = 0;
  if (profile.user.empty()) {
    std::printf("login     none\n");
  } else {
    std::string password;
    error = mapix::ReadPassword(profile, password);
    std::fill(password.begin(), password.end(), '\0');
    const std::string kind = profile.passwordSource.substr(0, profile.passwordSource.find(':'));
    std::printf("login     %s, password from %s: %s\n", profile.user.c_str(), kind.c_str(),
                error == mapix::ProfileError::None ? "available" : mapix::ProfileErrorText(error));
    if (error != mapix::ProfileError::None) result = 1;
  }
  if (!profile.hasStore) {
    std::printf("store     none (Extended MAPI has no default store)\n");
  } else {
    mapix::MaildirStore store(profile.storeFolder);
    const mapix::StoreError opened = store.Open();
    std::printf(
        "store     %s: %s\n", profile.storeFolder.c_str(),
        opened == mapix::StoreError::None ? "Outbox and Sent Items ready" : mapix::StoreErrorText(opened));
    if (opened != mapix::StoreError::None) result = 1;
  }
  std::printf("addresses %zu\n", profile.addresses.size());
  std::printf("%s\n", result == 0 ? "ok" : "not ready");
  return result;
}

// The test message goes the Extended MAPI way: built in the Outbox, submitted, filed in Sent Items.
int SendTest(const std::string& to) {
  bool initialized = false;
  IMAPISession* session = nullptr;
  IMAPITable* table = nullptr;
  IMsgStore* store = nullptr;
  IMAPIFolder* outbox = nullptr;
  mapix::OutboxStep step = mapix::LogonDefault(0, nullptr, nullptr, 0, initialized, session, table);
  if (step == mapix::OutboxStep::kInitialize) return 1;
  if (step == mapix::OutboxStep::kLogon) {
    mapix::MailProfile profile;
    int line = 0;
    const mapix::ProfileError error = mapix::LoadProfile(mapix::DefaultProfilePath(), profile, &line);
    std::fprintf(stderr, "marlin3-mail: %s\n", Describe(mapix::DefaultProfilePath(), error, line).c_str());
    if (session != nullptr) session->Release();
    MAPIUninitialize();
    return 1;
  }
  if (step == mapix::OutboxStep::kDone) step = mapix::OpenDefaultStore(session, table, 0, store);
  if (step == mapix::OutboxStep::kDone) step = mapix::OpenOutboxFolder(store, outbox);
  IMessage* message = nullptr;
  IAddrBook* book = nullptr;
  ADRLIST* list = nullptr;
  SPropValue* sentId = nullptr;
  const char* failure = nullptr;
  SizedSPropTagArray<1> sentTag = {1, {PR_IPM_SENTMAIL_ENTRYID}};
  ULONG count = 0;
  std::string name = to;
  const std::string subject = "marlin3 test message";
  const std::string body = "This test message was sent by marlin3-mail at " +
                           std::to_string(std::time(nullptr)) + ".\nThe mail profile works.\n";
  if (step == mapix::OutboxStep::kOpenStore) {
    failure = "the message store cannot be opened";
  } else if (step == mapix::OutboxStep::kOutboxId || step == mapix::OutboxStep::kOpenOutbox) {
    failure = "the Outbox cannot be opened";
  } else if (step != mapix::OutboxStep::kDone) {
    failure = "the profile has no message store";
  } else {
    void* buffer = nullptr;
    void* props = nullptr;
    if (FAILED(outbox->CreateMessage(nullptr, 0, &message)) ||
        FAILED(session->OpenAddressBook(0, nullptr, 1, &book)) ||
        FAILED(MAPIAllocateBuffer(static_cast<ULONG>(CbNewADRLIST(1)), &buffer)) ||
        FAILED(MAPIAllocateBuffer(sizeof(SPropValue) * 2, &props))) {
      failure = "out of memory";
      MAPIFreeBuffer(buffer);
    } else {
      list = static_cast<ADRLIST*>(buffer);
      list->cEntries = 1;
      list->aEntries[0].cValues = 2;
      list->aEntries[0].rgPropVals = static_cast<SPropValue*>(props);
      list->aEntries[0].rgPropVals[0].ulPropTag = PR_DISPLAY_NAME;
      list->aEntries[0].rgPropVals[0].Value.lpszA = name.data();
      list->aEntries[0].rgPropVals[1].ulPropTag = PR_RECIPIENT_TYPE;
      list->aEntries[0].rgPropVals[1].Value.l = MAPI_TO;
      SPropValue values[4] = {};
      values[0].ulPropTag = PR_SUBJECT;
      values[0].Value.lpszA = const_cast<char*>(subject.c_str());
      values[1].ulPropTag = PR_BODY;
      values[1].Value.lpszA = const_cast<char*>(body.c_str());
      values[2].ulPropTag = PR_IMPORTANCE;
      values[2].Value.l = IMPORTANCE_NORMAL;
      if (FAILED(book->ResolveName(0, 0, nullptr, list))) {
        failure = "the recipient is neither an address nor a name of the profile's address list";
      } else if (FAILED(message->ModifyRecipients(MODRECIP_ADD, list)) ||
                 FAILED(store->GetProps(sentTag.get(), 0, &count, &sentId))) {
        failure = "the message cannot be made";
      } else {
        values[3].ulPropTag = PR_SENTMAIL_ENTRYID;
        values[3].Value.bin = sentId[0].Value.bin;
        if (FAILED(message->SetProps(4, values, nullptr)) ||
            FAILED(message->SaveChanges(KEEP_OPEN_READWRITE))) {
          failure = "the message cannot be saved in the Outbox";
        } else if (FAILED(message->SubmitMessage(0))) {
          failure = "sending failed; the message stays in the Outbox (MARLIN3_DEBUGOUT=1 shows why)";
        }
      }
    }
  }
  FreePadrlist(list);
  MAPIFreeBuffer(sentId);
  for (IUnknown* object : std::vector<IUnknown*>{message, book, outbox, store, table, session})
    if (object != nullptr) object->Release();
  MAPIUninitialize();
  if (failure != nullptr) {
    std::fprintf(stderr, "marlin3-mail: %s\n", failure);
    return 1;
  }
  std::printf("sent to %s and filed in Sent Items\n", to.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage();
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "path" && args.empty()) {
    std::printf("%s\n", mapix::DefaultProfilePath().c_str());
    return 0;
  }
  if (command == "create") return Create(args);
  if (command == "check" && args.empty()) return Check();
  if (command == "send-test" && args.size() == 1) return SendTest(args[0]);
  return Usage();
}
