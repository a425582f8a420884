// Files layer: dispositions, sharing between handles and processes, faults, moves, attributes,
// FindFirstFile wildcards, logical drives.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <vector>

#include "TestUtil.h"
#include "platform/files/Files.h"

namespace {

class FilesTest : public ::testing::Test {
 protected:
  HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  static bool Write(HANDLE h, const std::string& text) {
    DWORD written = 0;
    return WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
  }
  testutil::TempDir m_dir;
};

TEST_F(FilesTest, DispositionsAndLastErrors) {
  const std::string path = m_dir / "a.txt";
  HANDLE h = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_EQ(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), platform::GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(m_dir / "no/a.txt", GENERIC_READ, 0, OPEN_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), platform::GetLastError());

  h = Open(path, GENERIC_WRITE, 0, CREATE_NEW);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_TRUE(Write(h, "hello world"));
  CloseHandle(h);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(path, GENERIC_WRITE, 0, CREATE_NEW));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), platform::GetLastError());

  h = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), platform::GetLastError());
  EXPECT_EQ(11u, GetFileSize(h, nullptr));  // OPEN_ALWAYS keeps the content, writing starts at 0
  EXPECT_TRUE(Write(h, "HELLO"));
  CloseHandle(h);
  EXPECT_EQ("HELLO world", testutil::ReadFile(path));

  h = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), platform::GetLastError());
  EXPECT_EQ(0u, GetFileSize(h, nullptr));
  CloseHandle(h);

  h = Open(m_dir / "new.txt", GENERIC_WRITE, 0, OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(0u, platform::GetLastError());
  CloseHandle(h);

  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(m_dir / "absent", GENERIC_WRITE, 0, TRUNCATE_EXISTING));
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(m_dir.path(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), platform::GetLastError());
}

TEST_F(FilesTest, ReadWriteSeekAndAccess) {
  const std::string path = m_dir / "rw.bin";
  HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_TRUE(Write(h, "0123456789"));
  EXPECT_EQ(2u, SetFilePointer(h, 2, nullptr, FILE_BEGIN));
  char buf[4] = {};
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, buf, 3, &read, nullptr));
  EXPECT_EQ(3u, read);
  EXPECT_EQ("234", std::string(buf, 3));
  EXPECT_EQ(8u, SetFilePointer(h, -2, nullptr, FILE_END));
  EXPECT_EQ(INVALID_SET_FILE_POINTER, SetFilePointer(h, -20, nullptr, FILE_CURRENT));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NEGATIVE_SEEK), platform::GetLastError());
  EXPECT_EQ(10u, SetFilePointer(h, 0, nullptr, FILE_END));
  EXPECT_TRUE(ReadFile(h, buf, 3, &read, nullptr));
  EXPECT_EQ(0u, read);  // end of file: success with nothing read
  CloseHandle(h);

  h = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  DWORD written = 0;
  EXPECT_FALSE(WriteFile(h, "x", 1, &written, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), platform::GetLastError());
  CloseHandle(h);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), platform::GetLastError());
}

// The diagnostic log's case: opened "shared for reading only"; a second writer must collide.
TEST_F(FilesTest, SharingCollidesLikeWindows) {
  const std::string path = m_dir / "marlin3.log";
  HANDLE log = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, log);
  EXPECT_TRUE(Write(log, "line one\r\n"));

  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), platform::GetLastError());
  // A refused CREATE_ALWAYS truncates nothing.
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, CREATE_ALWAYS));
  EXPECT_EQ("line one\r\n", testutil::ReadFile(path));
  // A reader that lets others write may look in; one that denies writing may not (the log writes).
  HANDLE reader = Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, reader);
  CloseHandle(reader);
  EXPECT_EQ(INVALID_HANDLE_VALUE, Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
  // Deleting a file held without FILE_SHARE_DELETE fails, so a second copy cannot remove the log.
  EXPECT_FALSE(DeleteFileA(path.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), platform::GetLastError());
  EXPECT_FALSE(MoveFileA(path.c_str(), (m_dir / "moved.log").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), platform::GetLastError());

  CloseHandle(log);
  HANDLE again = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  EXPECT_NE(INVALID_HANDLE_VALUE, again);
  CloseHandle(again);
  EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(FilesTest, SharingCollidesBetweenProcesses) {
  const std::string path = m_dir / "shared.log";
  HANDLE log = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, log);
  const pid_t pid = fork();
  if (pid == 0) {
    HANDLE h = Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS);
    const bool refused = h == INVALID_HANDLE_VALUE && platform::GetLastError() == ERROR_SHARING_VIOLATION;
    const bool deleteRefused = !DeleteFileA(path.c_str());
    _exit(refused && deleteRefused ? 0 : 1);
  }
  const int status = testutil::Wait(pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  CloseHandle(log);
}

TEST_F(FilesTest, ExclusiveOpenKeepsEveryoneOut) {
  const std::string path = m_dir / "excl.txt";
  HANDLE h = Open(path, GENERIC_READ, 0, CREATE_ALWAYS);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(INVALID_HANDLE_VALUE,
            Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
  CloseHandle(h);
  h = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  HANDLE h2 = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  EXPECT_NE(INVALID_HANDLE_VALUE, h2);  // two readers sharing reading
  CloseHandle(h);
  CloseHandle(h2);
}

TEST_F(FilesTest, WriteFaultsGiveWindowsCodes) {
  HANDLE full = CreateFileA("/dev/full", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, full);
  DWORD written = 99;
  EXPECT_FALSE(WriteFile(full, "abc", 3, &written, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), platform::GetLastError());
  EXPECT_EQ(0u, written);
  CloseHandle(full);

  const std::string path = m_dir / "short.txt";
  HANDLE h = Open(path, GENERIC_WRITE, 0, CREATE_ALWAYS);
  platform::files::SetWriteFaultHook([](const std::string& p, DWORD n) {
    return platform::files::WriteFault{ERROR_WRITE_FAULT, 2};
  });
  EXPECT_FALSE(WriteFile(h, "abcdef", 6, &written, nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_WRITE_FAULT), platform::GetLastError());
  EXPECT_EQ(2u, written);
  platform::files::SetWriteFaultHook(nullptr);
  EXPECT_TRUE(Write(h, "!"));
  CloseHandle(h);
  EXPECT_EQ("ab!", testutil::ReadFile(path));
}

TEST_F(FilesTest, MoveCopyDeleteAndDirectories) {
  const std::string a = m_dir / "a.txt", b = m_dir / "b.txt", c = m_dir / "c.txt";
  testutil::WriteFile(a, "A");
  testutil::WriteFile(b, "B");
  EXPECT_FALSE(MoveFileA(a.c_str(), b.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), platform::GetLastError());
  EXPECT_TRUE(MoveFileExA(a.c_str(), b.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ("A", testutil::ReadFile(b));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(a.c_str()));

  EXPECT_TRUE(CopyFileA(b.c_str(), c.c_str(), TRUE));
  EXPECT_FALSE(CopyFileA(b.c_str(), c.c_str(), TRUE));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), platform::GetLastError());
  EXPECT_TRUE(CopyFileA(b.c_str(), c.c_str(), FALSE));
  EXPECT_EQ("A", testutil::ReadFile(c));

  chmod(c.c_str(), 0444);
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), GetFileAttributesA(c.c_str()));
  EXPECT_FALSE(DeleteFileA(c.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), platform::GetLastError());
  chmod(c.c_str(), 0644);
  EXPECT_TRUE(DeleteFileA(c.c_str()));
  EXPECT_FALSE(DeleteFileA(c.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), platform::GetLastError());

  const std::string dir = m_dir / "sub";
  EXPECT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryA(dir.c_str(), nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), platform::GetLastError());
  EXPECT_FALSE(CreateDirectoryA((m_dir / "x/y").c_str(), nullptr));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), platform::GetLastError());
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY), GetFileAttributesA(dir.c_str()));
  EXPECT_FALSE(DeleteFileA(dir.c_str()));
  testutil::WriteFile(dir + "/f", "x");
  EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_DIR_NOT_EMPTY), platform::GetLastError());
  EXPECT_TRUE(DeleteFileA((dir + "/f").c_str()));
  EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
}

TEST_F(FilesTest, MoveAcrossFileSystemsCopies) {
  // /dev/shm is a tmpfs on Linux; the test folder is usually elsewhere.
  struct stat shm {
  }, here{};
  if (stat("/dev/shm", &shm) != 0 || stat(m_dir.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev)
    GTEST_SKIP() << "no second file system to move to";
  const std::string from = m_dir / "cross.txt";
  const std::string to = "/dev/shm/m3plat-cross-" + std::to_string(getpid());
  testutil::WriteFile(from, "across");
  ASSERT_TRUE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) << platform::GetLastError();
  EXPECT_EQ("across", testutil::ReadFile(to));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(from.c_str()));
  unlink(to.c_str());
}

TEST_F(FilesTest, AttributesOfHiddenAndNormalFiles) {
  testutil::WriteFile(m_dir / ".hidden", "x");
  testutil::WriteFile(m_dir / "plain", "x");
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN), GetFileAttributesA((m_dir / ".hidden").c_str()));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), GetFileAttributesA((m_dir / "plain").c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((m_dir / "none").c_str()));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), platform::GetLastError());
}

TEST_F(FilesTest, AFifoIsADeviceNotAFile) {
  const std::string fifo = m_dir / "fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DEVICE), GetFileAttributesA(fifo.c_str()));
  EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_DEVICE), GetFileAttributesA("/dev/null"));
}

std::vector<std::string> FindAll(const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do names.push_back(data.cFileName);
  while (FindNextFileA(h, &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), platform::GetLastError());
  EXPECT_TRUE(FindClose(h));
  return names;
}

TEST_F(FilesTest, FindFirstFileMatchesWindowsWildcards) {
  for (const char* name : {"marlin1.jpg", "Marlin2.JPG", "marlin10.tif", "README", "b.txt"})
    testutil::WriteFile(m_dir / name, "x");
  std::filesystem::create_directory(m_dir / "Folder");
  EXPECT_EQ((std::vector<std::string>{".", "..", "b.txt", "Folder", "marlin1.jpg", "marlin10.tif",
                                      "Marlin2.JPG", "README"}),
            FindAll(m_dir / "*.*"));
  EXPECT_EQ((std::vector<std::string>{"marlin1.jpg", "Marlin2.JPG"}), FindAll(m_dir / "*.jpg"));
  EXPECT_EQ((std::vector<std::string>{"marlin1.jpg", "Marlin2.JPG"}), FindAll(m_dir / "marlin?.*"));
  // Without wildcards the name is looked up as the file system spells it (Linux names keep their case,
  // so FindFirstFile agrees with CreateFileA about what exists).
  EXPECT_EQ((std::vector<std::string>{"README"}), FindAll(m_dir / "README"));
  EXPECT_TRUE(FindAll(m_dir / "readme").empty());
  EXPECT_EQ((std::vector<std::string>{"Folder", "README"}), FindAll(m_dir / "*."));

  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((m_dir / "Folder").c_str(), &data);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_STREQ("Folder", data.cFileName);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(h);
  h = FindFirstFileA((m_dir / "b.txt").c_str(), &data);
  EXPECT_EQ(1u, data.nFileSizeLow);
  FindClose(h);

  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA((m_dir / "*.png").c_str(), &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), platform::GetLastError());
  EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA((m_dir / "missing/*.*").c_str(), &data));
  EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), platform::GetLastError());
  // The root of a volume has no "." or "..", as a drive's root on Windows.
  const auto root = FindAll("/*");
  EXPECT_EQ(root.end(), std::find(root.begin(), root.end(), "."));
}

TEST(LogicalDrivesTest, RootAndUserVolumesFromMounts) {
  testutil::TempDir dir;
  testutil::WriteFile(dir / "mounts",
                      "overlay / overlay rw 0 0\n"
                      "proc /proc proc rw 0 0\n"
                      "tmpfs /run tmpfs rw 0 0\n"
                      "/dev/sda1 /boot/efi vfat rw 0 0\n"
                      "/dev/sda2 /home ext4 rw 0 0\n"
                      "/dev/sdb1 /media/me/USB\\040STICK vfat rw 0 0\n"
                      "/dev/sdc1 /mnt/backup ext4 rw 0 0\n"
                      "server:/share /srv/nfs nfs4 rw 0 0\n"
                      "/dev/sr0 /run/media/me/CDROM iso9660 ro 0 0\n"
                      "tmpfs /media/ram tmpfs rw 0 0\n");
  EXPECT_EQ((std::vector<std::string>{"/", "/media/me/USB STICK/", "/mnt/backup/", "/run/media/me/CDROM/",
                                      "/srv/nfs/"}),
            platform::files::LogicalDrives((dir / "mounts").c_str()));
}

TEST(LogicalDrivesTest, PackedLikeWindows) {
  const DWORD needed = GetLogicalDriveStringsA(0, nullptr);
  ASSERT_GE(needed, 3u);  // at least "/" "\0" "\0"
  std::vector<char> buf(needed);
  const DWORD length = GetLogicalDriveStringsA(needed, buf.data());
  EXPECT_EQ(needed - 1, length);
  EXPECT_STREQ("/", buf.data());
  EXPECT_EQ('\0', buf[length]);
  EXPECT_EQ('\0', buf[length - 1]);
  EXPECT_EQ(needed, GetLogicalDriveStringsA(needed - 1, buf.data()));
}

// What the log and the temporary files are opened with: only the user's own regular file, never a
// link, FIFO, device or folder (and no open blocks on a FIFO); new files 0600, wider ones narrowed.
TEST_F(FilesTest, PrivateFilesRefuseWhatIsNotTheUsersOwnFile) {
  auto open = [](const std::string& path) {
    return platform::files::CreatePrivateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                               OPEN_ALWAYS);
  };
  const std::string target = m_dir / "target";
  { std::ofstream(target) << "keep"; }
  ASSERT_EQ(0, symlink(target.c_str(), (m_dir / "link").c_str()));
  ASSERT_EQ(0, mkfifo((m_dir / "fifo").c_str(), 0666));
  ASSERT_EQ(0, mkdir((m_dir / "folder").c_str(), 0777));
  ASSERT_EQ(0, link(target.c_str(), (m_dir / "second-name").c_str()));
  const std::string foreign = m_dir / "foreign";
  { std::ofstream(foreign) << "theirs"; }
  if (geteuid() == 0) {
    ASSERT_EQ(0, chown(foreign.c_str(), 61002, 61002));
  }
  std::vector<std::string> refused = {m_dir / "link", m_dir / "fifo", m_dir / "folder", "/dev/null",
                                      m_dir / "second-name"};
  if (geteuid() == 0) refused.push_back(foreign);
  for (const std::string& path : refused) {
    SCOPED_TRACE(path);
    EXPECT_EQ(INVALID_HANDLE_VALUE, open(path));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), platform::GetLastError());
  }
  EXPECT_EQ("keep", testutil::ReadFile(target));

  HANDLE h = open(m_dir / "new.log");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  CloseHandle(h);
  struct stat st {};
  ASSERT_EQ(0, stat((m_dir / "new.log").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
  ASSERT_EQ(0, chmod((m_dir / "new.log").c_str(), 0666));
  h = open(m_dir / "new.log");
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), platform::GetLastError());
  CloseHandle(h);
  ASSERT_EQ(0, stat((m_dir / "new.log").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);

  // Plain CreateFileA makes private files too.
  h = Open(m_dir / "plain", GENERIC_WRITE, 0, CREATE_NEW);
  CloseHandle(h);
  ASSERT_EQ(0, stat((m_dir / "plain").c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
}

// Another program holding the sharing check's lock for ever delays an open by the bound, no more.
TEST_F(FilesTest, ABusyLockIsWaitedForABoundedTime) {
  const std::string path = m_dir / "held";
  { std::ofstream(path) << "x"; }
  int ready[2];
  ASSERT_EQ(0, pipe(ready));
  const pid_t holder = fork();
  if (holder == 0) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    flock(fd, LOCK_EX);
    (void)!write(ready[1], "1", 1);
    pause();
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(1, read(ready[0], &c, 1));
  const auto start = std::chrono::steady_clock::now();
  HANDLE h = Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
  const auto waited = std::chrono::steady_clock::now() - start;
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  ASSERT_NE(INVALID_HANDLE_VALUE, h);
  EXPECT_TRUE(platform::files::LockWaitedOut(h));
  CloseHandle(h);
  EXPECT_LT(waited, std::chrono::seconds(20));  // loose: the bound is two seconds
}

// SameFile sees one file behind two names (a hard link), and not two files with equal contents.
TEST_F(FilesTest, SameFileByDeviceAndInode) {
  { std::ofstream(m_dir / "a") << "same"; }
  { std::ofstream(m_dir / "b") << "same"; }
  ASSERT_EQ(0, link((m_dir / "a").c_str(), (m_dir / "a2").c_str()));
  EXPECT_TRUE(platform::files::SameFile((m_dir / "a").c_str(), (m_dir / "a2").c_str()));
  EXPECT_FALSE(platform::files::SameFile((m_dir / "a").c_str(), (m_dir / "b").c_str()));
  EXPECT_FALSE(platform::files::SameFile((m_dir / "a").c_str(), (m_dir / "absent").c_str()));
}

}  // namespace
