#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

// The temporary's name: "." + the target's name + "." + the six characters mkostemp fills in.
std::string TempPattern(const std::string &folder, const std::string &base) { return folder + "/." + base + ".XXXXXX"; }

bool IsTempOf(const std::string &name, const std::string &base) {
  const std::string prefix = "." + base + ".";
  if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

bool Older(const struct stat &a, const struct stat &b) {
  return a.st_mtim.tv_sec < b.st_mtim.tv_sec ||
         (a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec < b.st_mtim.tv_nsec);
}

// A writer holds its temporary locked until it is renamed, so a temporary that can be locked and
// is older than ours was left by a writer that died. Only our own regular files of our own
// naming pattern are considered; anything else in the folder is never touched.
void RemoveStaleTemporaries(const std::string &folder, const std::string &base, const std::string &ours,
                            const struct stat &oursStat) {
  DIR *dir = opendir(folder.c_str());
  if (!dir) return;
  while (const dirent *e = readdir(dir)) {
    const std::string name = e->d_name;
    const std::string path = folder + "/" + name;
    if (!IsTempOf(name, base) || path == ours) continue;
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    const bool stale = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
                       Older(st, oursStat) && flock(fd, LOCK_EX | LOCK_NB) == 0;
    // Unlinked while locked and checked to be the same file, so a temporary renamed into place in
    // between is never the one removed.
    struct stat now {};
    if (stale && lstat(path.c_str(), &now) == 0 && now.st_ino == st.st_ino && now.st_dev == st.st_dev)
      unlink(path.c_str());
    close(fd);
  }
  closedir(dir);
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
  // A device or FIFO is no file to replace: the rename would put a plain file in its place.
  if (existed && !S_ISREG(old.st_mode)) {
    if (error) *error = "cannot write " + path + ": it is not a regular file (a device, FIFO or socket)";
    return false;
  }
  const mode_t mode = existed ? (old.st_mode & 07777) : (0666 & ~CurrentUmask());

  std::string temp = TempPattern(folder, BaseOf(target));
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Fail(error, "cannot create a temporary file in " + folder, errno);

  // Held until the temporary is renamed: the mark of a living writer for the clean-up below. A
  // file system without locks only goes without the clean-up.
  struct stat ours {};
  const bool marked = flock(fd, LOCK_EX) == 0 && fstat(fd, &ours) == 0;
  int err = 0;
  if (fchmod(fd, mode) != 0) err = errno;
  if (!err && !WriteAll(fd, content)) err = errno;
  if (!err && fsync(fd) != 0) err = errno;
  if (!err && rename(temp.c_str(), target.c_str()) != 0) err = errno;
  // Closed after the rename, so the lock lasts as long as the name; after fsync the content is
  // on disk, and a late close error changes nothing of that.
  close(fd);
  if (err) unlink(temp.c_str());
  else SyncFolder(folder);
  if (marked) RemoveStaleTemporaries(folder, BaseOf(target), temp, ours);
  return err ? Fail(error, "cannot write " + path, err) : true;
}

int OpenRegularFile(const std::string &path, std::string *error) {
  // Non-blocking, so that opening a FIFO without a writer returns at once instead of waiting.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    Fail(error, "cannot open " + path, errno);
    return -1;
  }
  struct stat st {};
  const int statErr = fstat(fd, &st) != 0 ? errno : 0;
  if (statErr || !S_ISREG(st.st_mode)) {
    close(fd);
    if (statErr)
      Fail(error, "cannot read " + path, statErr);
    else if (error)
      *error = "cannot read " + path + ": " +
               (S_ISDIR(st.st_mode) ? "it is a folder, not a file" : "it is not a regular file (a device, FIFO or socket)");
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

bool ReadWholeFile(const std::string &path, std::string *content, std::string *error, const TReadBounds &bounds) {
  const int fd = OpenRegularFile(path, error);
  if (fd < 0) return false;
  std::string data;
  char buf[65536];
  size_t line = 1, lineLength = 0;
  bool afterCr = false;
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      close(fd);
      return Fail(error, "cannot read " + path, err);
    }
    if (n == 0) break;
    if (static_cast<size_t>(n) > bounds.MaxSize - data.size()) {
      close(fd);
      if (error) *error = "cannot read " + path + ": it is larger than " + std::to_string(bounds.MaxSize) + " bytes";
      return false;
    }
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buf[i];
      if (c == '\n' || c == '\r') {
        if (!(c == '\n' && afterCr)) ++line; // CR LF ends one line
        lineLength = 0;
      } else if (++lineLength > bounds.MaxLine) {
        close(fd);
        if (error)
          *error = "cannot read " + path + ": line " + std::to_string(line) + " is longer than " +
                   std::to_string(bounds.MaxLine) + " bytes";
        return false;
      }
      afterCr = c == '\r';
    }
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
