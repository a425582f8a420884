// A second user of the machine against the first one's runs of the real marlin3: both are uids of
// their own (setpriv from root), the shared temporary folder is a sticky 1777 folder as /tmp is, and the
// kernel's protected_symlinks is off while the tests run, so only marlin3's own care stands between the
// outsider and the user's files. Also the replace paths that must never lose the user's old file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/common/ProductRun.h"

namespace fs = std::filesystem;

namespace {

using product_run::Quote;
using product_run::ReadFile;

constexpr uid_t kVictim = 61001;
constexpr uid_t kOutsider = 61002;

const char* kFeederScript = "dialog 160\nselect 1603 Automatic Document Feeder\nselect 1602 75\nclick 1\n";

using product_run::Output;
using product_run::PdfPages;

struct stat Lstat(const fs::path& path) {
  struct stat st {};
  lstat(path.c_str(), &st);
  return st;
}

unsigned Mode(const fs::path& path) {
  return Lstat(path).st_mode & 07777;
}

// One user's world: home, registry, SANE set-up, script and output folders, all the user's own.
struct User {
  uid_t uid = 0;
  fs::path home;
  fs::path Out(const std::string& name) const { return home / "out" / name; }
};

class HostileUserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(geteuid(), 0u) << "the tests play two users and need root to become them";
    m_symlinks = ReadFile("/proc/sys/fs/protected_symlinks");
    std::ofstream("/proc/sys/fs/protected_symlinks") << "0\n";
    char pattern[] = "/tmp/m3hostile.XXXXXX";
    m_root = mkdtemp(pattern);
    chmod(m_root.c_str(), 0755);
    m_shared = m_root / "shared";
    fs::create_directories(m_shared);
    chmod(m_shared.c_str(), 01777);
    m_victim = MakeUser(kVictim, "victim");
    m_outsider = MakeUser(kOutsider, "outsider");
  }
  void TearDown() override {
    if (!m_symlinks.empty()) std::ofstream("/proc/sys/fs/protected_symlinks") << m_symlinks;
    std::error_code ec;
    fs::remove_all(m_root, ec);
  }

  User MakeUser(uid_t uid, const std::string& name) {
    User user{uid, m_root / name};
    for (const char* sub : {"sane", "registry", "out", "cwd", "docs"})
      fs::create_directories(user.home / sub);
    std::ofstream(user.home / "sane" / "dll.conf") << "test\n";
    std::ofstream(user.home / "sane" / "test.conf")
        << "number_of_devices 1\ngeometry_max 300.0\ngeometry_quant 0.0\ntest-picture \"Color pattern\"\n";
    Shell("chown -R " + std::to_string(uid) + ":" + std::to_string(uid) + " " + Quote(user.home.string()));
    chmod(user.home.c_str(), 0700);
    EXPECT_EQ(As(user, Bin("marlin3-product") + " direct --port 60000 --device test:0 >/dev/null"), 0);
    return user;
  }

  static std::string Bin(const char* name) { return std::string(MARLIN3_BIN_DIR) + "/" + name; }

  static int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // A command as the user, in the user's environment, with the shared temporary folder as TMPDIR.
  std::string AsCommand(const User& user, const std::string& command) const {
    const std::string id = std::to_string(user.uid);
    return "cd " + Quote((user.home / "cwd").string()) + " && setpriv --reuid=" + id + " --regid=" + id +
           " --clear-groups env HOME=" + Quote(user.home.string()) +
           " XDG_CONFIG_HOME=" + Quote((user.home / "config").string()) +
           " SANE_CONFIG_DIR=" + Quote((user.home / "sane").string()) +
           " MARLIN3_REGISTRY_DIR=" + Quote((user.home / "registry").string()) +
           " TMPDIR=" + Quote(m_shared.string() + "/") + " MARLIN3_UI=scripted" +
           " MARLIN3_UI_SCRIPT=" + Quote((user.home / "script.txt").string()) +
           " MARLIN3_UI_TRANSCRIPT=/dev/null LANG=C LC_TELEPHONE=C " + command;
  }
  int As(const User& user, const std::string& command) const { return Shell(AsCommand(user, command)); }
  int Outsider(const std::string& script) const { return As(m_outsider, "sh -c " + Quote(script)); }

  std::string Marlin(const User& user, const std::vector<std::string>& args, const std::string& script = "") {
    std::ofstream(user.home / "script.txt") << script;
    chown((user.home / "script.txt").c_str(), user.uid, user.uid);
    std::string command = "timeout -k 5 180 " + Bin("marlin3");
    for (const std::string& a : args) command += " " + Quote(a);
    return AsCommand(user, command);
  }

  // The folder the user's run put its log in (several when a refused name sent it elsewhere).
  std::vector<fs::path> LogsOf(const User& user) const {
    std::vector<fs::path> logs;
    for (const auto& entry : fs::directory_iterator(m_shared)) {
      const fs::path log = entry.path() / "marlin3.log";
      if (Lstat(entry.path()).st_uid == user.uid && fs::is_directory(fs::symlink_status(entry.path())) &&
          fs::exists(log))
        logs.push_back(log);
    }
    return logs;
  }

  static std::vector<std::string> Unattended(const User& user, const std::string& out) {
    return {"/Task", "3",    "/Hide", "286331153", "/Res", "50",       "/InX",
            "2880",  "/InY", "2880",  "/Type",     "146",  "/OutFile", user.Out(out).string()};
  }

  fs::path m_root;
  fs::path m_shared;
  User m_victim;
  User m_outsider;
  std::string m_symlinks;
};

// The outsider prepares the shared folder before the user's run: the user's folder name taken (as a
// link to the outsider's folder, as the outsider's own open folder, as a file, as a FIFO), and the old
// fixed names "marlin3.log" (a link to a file of the user's) and "NxScan" (open to all) waiting.
TEST_F(HostileUserTest, TrapsInTheSharedTemporaryFolderAreRefused) {
  const std::string own = m_shared / ("marlin3-" + std::to_string(kVictim));
  const fs::path loot = m_outsider.home / "loot";
  const fs::path precious = m_victim.home / "precious.txt";
  std::ofstream(precious) << "the user's own words";
  chown(precious.c_str(), kVictim, kVictim);
  struct Trap {
    const char* what;
    std::string make;
  };
  const std::vector<Trap> traps = {
      {"link to the outsider's folder", "ln -s " + Quote(loot.string()) + " " + Quote(own)},
      {"the outsider's open folder", "mkdir -m 777 " + Quote(own)},
      {"the outsider's file", "touch " + Quote(own) + " && chmod 666 " + Quote(own)},
      {"a FIFO", "mkfifo -m 666 " + Quote(own)},
  };
  for (const Trap& trap : traps) {
    SCOPED_TRACE(trap.what);
    Shell("rm -rf " + Quote(m_shared.string()) + "/* " + Quote(m_victim.home.string()) + "/out/*");
    ASSERT_EQ(Outsider("mkdir -p -m 777 " + Quote(loot.string()) + " && " + trap.make + " && ln -s " +
                       Quote(precious.string()) + " " + Quote((m_shared / "marlin3.log").string()) +
                       " && mkdir -m 777 " + Quote((m_shared / "NxScan").string())),
              0);
    EXPECT_EQ(Shell(Marlin(m_victim, Unattended(m_victim, "scan.pdf"))), 0);
    EXPECT_EQ(PdfPages(m_victim.Out("scan.pdf")), 1);
    EXPECT_EQ(ReadFile(precious), "the user's own words");
    EXPECT_TRUE(fs::is_empty(loot));
    EXPECT_TRUE(fs::is_empty(m_shared / "NxScan"));
    // The log went to a new private folder, and says why.
    const std::vector<fs::path> logs = LogsOf(m_victim);
    ASSERT_EQ(logs.size(), 1u);
    const fs::path folder = logs[0].parent_path();
    EXPECT_NE(folder.string(), own);
    EXPECT_NE(ReadFile(logs[0]).find("Temporary folder refused: '" + own + "'"), std::string::npos)
        << ReadFile(logs[0]);
    // Everything the run made is the user's alone.
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_EQ(Mode(logs[0]), 0600u);
    EXPECT_EQ(Mode(folder / "NxScan"), 0700u);
    EXPECT_EQ(Mode(m_victim.Out("scan.pdf")), 0600u);
    EXPECT_EQ(Lstat(m_victim.Out("scan.pdf")).st_uid, kVictim);
  }
  // With the name free, the usual folder is made and used: the user's, 0700.
  Shell("rm -rf " + Quote(m_shared.string()) + "/*");
  EXPECT_EQ(Shell(Marlin(m_victim, Unattended(m_victim, "again.pdf"))), 0);
  EXPECT_EQ(Mode(own), 0700u);
  EXPECT_EQ(Lstat(own).st_uid, kVictim);
  EXPECT_EQ(Mode(fs::path(own) / "marlin3.log"), 0600u);
  EXPECT_EQ(Outsider("cat " + Quote(own + "/marlin3.log") + " >/dev/null 2>&1"), 1);
}

// What stands in the log's place inside the user's folder (a folder, a FIFO, a link to a file of the
// user's) is never opened: the run neither hangs nor writes through it, and the scan is delivered.
TEST_F(HostileUserTest, NothingButAFileOfItsOwnIsTakenForTheLog) {
  const fs::path own = m_shared / ("marlin3-" + std::to_string(kVictim));
  const fs::path precious = m_victim.home / "precious.txt";
  std::ofstream(precious) << "the user's own words";
  chown(precious.c_str(), kVictim, kVictim);
  const fs::path log = own / "marlin3.log";
  for (const std::string& make : {"mkdir " + Quote(log.string()), "mkfifo " + Quote(log.string()),
                                  "ln -s " + Quote(precious.string()) + " " + Quote(log.string())}) {
    SCOPED_TRACE(make);
    Shell("rm -rf " + Quote(own.string()) + " " + Quote(m_victim.Out("scan.pdf").string()));
    ASSERT_EQ(As(m_victim, "sh -c " + Quote("mkdir -m 700 " + Quote(own.string()) + " && " + make)), 0);
    EXPECT_EQ(Shell(Marlin(m_victim, Unattended(m_victim, "scan.pdf"))), 0);
    EXPECT_EQ(PdfPages(m_victim.Out("scan.pdf")), 1);
    EXPECT_EQ(ReadFile(precious), "the user's own words");
    const struct stat st = Lstat(log);
    EXPECT_TRUE(S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && (st.st_mode & 07777) == 0600)) << st.st_mode;
  }
}

// While a ten-page JPEG batch is saved the outsider keeps putting links named like its pages, pointing
// at the user's files, into every folder it can reach. None of the user's files may change.
TEST_F(HostileUserTest, RacingLinksDuringAJpegBatchDestroyNothing) {
  std::string links;
  for (int i = 1; i <= 30; ++i) {
    const fs::path victimFile = m_victim.home / ("file" + std::to_string(i) + ".txt");
    std::ofstream(victimFile) << "keep " << i;
    chown(victimFile.c_str(), kVictim, kVictim);
    for (const char* folder : {"NxScan", ""})
      links += "ln -sfn " + Quote(victimFile.string()) + " " +
               Quote((m_shared / folder / ("marlin" + std::to_string(i) + ".jpg")).string()) +
               " 2>/dev/null;";
  }
  const std::string own = m_shared / ("marlin3-" + std::to_string(kVictim)) / "NxScan";
  for (int i = 1; i <= 30; ++i)
    links += "ln -sfn x " + Quote(own + "/marlin" + std::to_string(i) + ".jpg") + " 2>/dev/null;";
  ASSERT_EQ(Outsider("mkdir -m 777 " + Quote((m_shared / "NxScan").string())), 0);
  const std::string stop = (m_root / "stop").string();
  const fs::path pidFile = m_outsider.home / "racer.pid";
  const std::string racer =
      AsCommand(m_outsider, "sh -c " + Quote("echo $$ > " + Quote(pidFile.string()) + "; while [ ! -e " +
                                             Quote(stop) + " ]; do " + links + " done")) +
      " &";
  Shell(racer);
  for (int i = 0; i < 100 && ReadFile(pidFile).empty(); ++i) usleep(50000);
  const int code = Shell(Marlin(
      m_victim, {"/Task", "3", "/Hide", "4097", "/Type", "10", "/OutFile", m_victim.Out("scan.jpg").string()},
      std::string(kFeederScript) + "dialog 148\nclick 1057\nok\n"));
  std::ofstream(stop) << "";
  // The racer ends at its next round; it must be gone before the folders are removed.
  const std::string racerProc = "/proc/" + std::to_string(std::atoi(ReadFile(pidFile).c_str()));
  for (int i = 0; i < 600 && fs::exists(racerProc); ++i) usleep(50000);
  EXPECT_EQ(code, 0);
  for (int i = 1; i <= 30; ++i)
    EXPECT_EQ(ReadFile(m_victim.home / ("file" + std::to_string(i) + ".txt")), "keep " + std::to_string(i))
        << i;
  EXPECT_TRUE(fs::exists(m_victim.Out("scan.jpg")));
  for (int i = 2; i <= 10; ++i) {
    const fs::path page = m_victim.Out("scan" + std::to_string(i) + ".jpg");
    EXPECT_NE(Output("identify -format %m " + Quote(page.string()) + " 2>/dev/null"), "") << i;
    EXPECT_EQ(Mode(page), 0600u) << i;
  }
}

// Two users scan at once with the same TMPDIR: each run has its own folder, log and pages.
TEST_F(HostileUserTest, TwoUsersScanAtOnceWithTheSameTmpdir) {
  const std::string first = Marlin(m_victim, Unattended(m_victim, "a.pdf"));
  const std::string second = Marlin(m_outsider, Unattended(m_outsider, "b.pdf"));
  std::ofstream(m_victim.home / "script.txt") << "";
  EXPECT_EQ(Shell("( " + first + " ) & ( " + second + " ); s=$?; wait $! && exit $s"), 0);
  EXPECT_EQ(PdfPages(m_victim.Out("a.pdf")), 1);
  EXPECT_EQ(PdfPages(m_outsider.Out("b.pdf")), 1);
  ASSERT_EQ(LogsOf(m_victim).size(), 1u);
  ASSERT_EQ(LogsOf(m_outsider).size(), 1u);
  EXPECT_NE(LogsOf(m_victim)[0].parent_path(), LogsOf(m_outsider)[0].parent_path());
  EXPECT_FALSE(fs::exists(m_shared / "marlin3.log"));
  EXPECT_FALSE(fs::exists(m_shared / "NxScan"));
}

// Replacing never loses the old file: OverWrite onto a full file system, OverWrite with an input that
// cannot be converted, and a convert output that is its own input. Pages of a killed run older than a
// day go at the next start; younger ones stay.
class ReplaceTest : public product_run::ProductRun {};

TEST_F(ReplaceTest, OverWriteKeepsTheOldFileWhenTheNewOneFails) {
  const fs::path small = m_dir / "small";
  fs::create_directories(small);
  ASSERT_EQ(Shell("mount -t tmpfs -o size=64k tmpfs " + Quote(small.string())), 0);
  const std::string old(56 * 1024, 'o');  // what is left free cannot hold a 4 x 4 inch page
  std::ofstream(small / "big.pdf") << old;
  const product_run::RunResult full =
      RunMarlin({"/Task", "3", "/Hide", "286331153", "/Res", "150", "/InX", "5760", "/InY", "5760", "/Type",
                 "146", "/OutFile", (small / "big.pdf").string(), "/OverWrite", "1"},
                "");
  const std::string after = ReadFile(small / "big.pdf");
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(small)) names.push_back(entry.path().filename());
  Shell("umount " + Quote(small.string()));
  EXPECT_TRUE(after == old) << full.log;
  EXPECT_EQ(names, std::vector<std::string>{"big.pdf"}) << "no partial copy stays beside it";
  EXPECT_NE(full.log.find("Error copying"), std::string::npos) << full.log;

  // An input that is no image: the conversion fails and the old output is as it was.
  std::ofstream(m_dir / "cwd" / "broken.png") << "not a png at all";
  std::ofstream(Out("kept.pdf")) << "old output";
  product_run::RunResult run = RunMarlin({"/Task", "8", "/InFile", "broken.png", "/Type", "146", "/OutFile",
                                          Out("kept.pdf").string(), "/OverWrite", "1"},
                                         "");
  EXPECT_EQ(ReadFile(Out("kept.pdf")), "old output") << run.log;
  EXPECT_NE(run.log.find("File conversion failed"), std::string::npos) << run.log;

  // The output is the input, by another name (a hard link): refused before anything is touched.
  ASSERT_EQ(Shell("convert -size 32x32 xc:red " + Quote((m_dir / "cwd" / "photo.png").string())), 0);
  const std::string photo = ReadFile(m_dir / "cwd" / "photo.png");
  fs::create_hard_link(m_dir / "cwd" / "photo.png", Out("photo.png"));
  for (const fs::path& output : {m_dir / "cwd" / "photo.png", Out("photo.png")}) {
    run = RunMarlin(
        {"/Task", "8", "/InFile", "photo.png", "/Type", "75", "/OutFile", output.string(), "/OverWrite", "1"},
        "");
    EXPECT_EQ(ReadFile(m_dir / "cwd" / "photo.png"), photo) << run.log;
    EXPECT_NE(run.log.find("is the input file"), std::string::npos) << run.log;
  }

  // A good conversion replaces the old output whole.
  run = RunMarlin({"/Task", "8", "/InFile", "photo.png", "/Type", "146", "/OutFile", Out("kept.pdf").string(),
                   "/OverWrite", "1"},
                  "");
  EXPECT_EQ(PdfPages(Out("kept.pdf")), 1) << run.log;
}

TEST_F(ReplaceTest, PagesOfAKilledRunGoAfterADay) {
  const fs::path nxscan = m_dir / "tmp" / "NxScan";
  fs::create_directories(nxscan);
  std::ofstream(nxscan / "marlin900.tif") << "half a page";
  std::ofstream(nxscan / "marlin901.tif") << "this morning's page";
  std::ofstream(nxscan / "notes.txt") << "not ours";
  Shell("touch -d '2 days ago' " + Quote((nxscan / "marlin900.tif").string()) + " " +
        Quote((nxscan / "notes.txt").string()));
  ASSERT_EQ(Shell("convert -size 16x16 xc:blue " + Quote((m_dir / "cwd" / "in.png").string())), 0);
  const product_run::RunResult run =
      RunMarlin({"/Task", "8", "/InFile", "in.png", "/Type", "146", "/OutFile", Out("x.pdf").string()}, "");
  EXPECT_EQ(run.exitCode, 0) << run.log;
  EXPECT_FALSE(fs::exists(nxscan / "marlin900.tif"));
  EXPECT_TRUE(fs::exists(nxscan / "marlin901.tif"));
  EXPECT_TRUE(fs::exists(nxscan / "notes.txt"));
  EXPECT_NE(run.log.find("Removed 1 temporary file(s) older than a day"), std::string::npos) << run.log;
}

}  // namespace
