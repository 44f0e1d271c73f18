#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Fail(std::string *error, const std::string &what, int err) {
  if (error) *error = what + ": " + std::strerror(err);
  return false;
}

std::string ParentOf(const std::string &path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseOf(const std::string &path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links (also dangling ones) so the rename replaces the link's target and not
// the link itself. Gives up after as many hops as the kernel allows and uses what it has.
std::string ResolveLinks(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> buf(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = readlink(path.c_str(), buf.data(), buf.size());
    if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return path;
    std::string target(buf.data(), static_cast<size_t>(n));
    path = target.front() == '/' ? target : ParentOf(path) + "/" + target;
  }
  return path;
}

// The process umask without changing it: umask() can only be read by setting it, which would
// race with other threads creating files.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      try {
        return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
      } catch (...) {
        break;
      }
    }
  }
  return 022;
}

bool WriteAll(int fd, const std::string &content) {
  const char *p = content.data();
  size_t left = content.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

// Makes the rename itself durable; failure here does not undo a completed replacement.
void SyncFolder(const std::string &folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

} // namespace

bool CreateFolders(const std::string &path, std::string *error) {
  if (path.empty()) return true;
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) {
    if (error) *error = "cannot create folder " + path + ": " + ec.message();
    return false;
  }
  if (!std::filesystem::is_directory(path, ec)) {
    if (error) *error = "cannot create folder " + path + ": not a folder";
    return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string &path, const std::string &content, std::string *error) {
  if (path.empty()) {
    if (error) *error = "no file name";
    return false;
  }
  const std::string target = ResolveLinks(path);
  const std::string folder = ParentOf(target);
  if (!CreateFolders(folder, error)) return false;

  struct stat old {};
  const bool existed = stat(target.c_str(), &old) == 0;
  if (existed && S_ISDIR(old.st_mode)) return Fail(error, "cannot write " + path, EISDIR);
  const mode_t mode = existed ? (old.st_mode & 07777) : (0666 & ~CurrentUmask());

  std::string temp = folder + "/." + BaseOf(target) + ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Fail(error, "cannot create a temporary file in " + folder, errno);

  int err = 0;
  if (fchmod(fd, mode) != 0) err = errno;
  if (!err && !WriteAll(fd, content)) err = errno;
  if (!err && fsync(fd) != 0) err = errno;
  if (close(fd) != 0 && !err) err = errno;
  if (!err && rename(temp.c_str(), target.c_str()) != 0) err = errno;
  if (err) {
    unlink(temp.c_str());
    return Fail(error, "cannot write " + path, err);
  }
  SyncFolder(folder);
  return true;
}

bool ReadWholeFile(const std::string &path, std::string *content, std::string *error) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(error, "cannot open " + path, errno);
  std::string data;
  char buf[65536];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      close(fd);
      return Fail(error, "cannot read " + path, err);
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  if (content) *content = std::move(data);
  return true;
}

TFileStamp StatFile(const std::string &path) {
  TFileStamp s;
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return s;
  s.Exists = true;
  s.Device = static_cast<unsigned long long>(st.st_dev);
  s.Inode = static_cast<unsigned long long>(st.st_ino);
  s.Size = static_cast<long long>(st.st_size);
  s.MTimeSec = static_cast<long long>(st.st_mtim.tv_sec);
  s.MTimeNsec = static_cast<long long>(st.st_mtim.tv_nsec);
  return s;
}

bool IsFileReadOnly(const std::string &path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  return access(path.c_str(), W_OK) != 0 && (errno == EACCES || errno == EROFS || errno == EPERM);
}
