#include "tty/PortDiagnosis.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// Unix98 pty slaves use majors 136 to 143.
constexpr unsigned PtySlaveMajorFirst = 136;
constexpr unsigned PtySlaveMajorLast = 143;

std::string Canonical(const std::string &path) {
  std::error_code ec;
  const fs::path resolved = fs::canonical(path, ec);
  return ec ? path : resolved.string();
}

std::string CommandName(const fs::path &process) {
  std::ifstream in(process / "comm");
  std::string name;
  std::getline(in, name);
  return name.empty() ? "?" : name;
}

std::string UserName(uid_t uid) {
  passwd entry{}, *found = nullptr;
  std::string buffer(16384, '\0');
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->pw_name;
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  group entry{}, *found = nullptr;
  std::string buffer(16384, '\0');
  if (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->gr_name;
  return std::to_string(gid);
}

bool ProcessHasGroup(gid_t gid) {
  if (::getegid() == gid)
    return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0)
    return false;
  std::vector<gid_t> groups(static_cast<size_t>(n));
  const int got = ::getgroups(n, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

} // namespace

std::vector<TDeviceHolder> FindDeviceHolders(const std::string &path) {
  const std::string target = Canonical(path);
  const std::string self = std::to_string(::getpid());
  std::vector<TDeviceHolder> holders;
  std::error_code ec;
  for (fs::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
    const std::string pid = it->path().filename().string();
    if (pid == self || pid.find_first_not_of("0123456789") != std::string::npos)
      continue;
    std::error_code fdError;
    for (fs::directory_iterator fd(it->path() / "fd", fdError); !fdError && fd != end; fd.increment(fdError)) {
      std::error_code linkError;
      const fs::path link = fs::read_symlink(fd->path(), linkError);
      if (!linkError && link == target) {
        holders.push_back({std::atoi(pid.c_str()), CommandName(it->path())});
        break;
      }
    }
  }
  std::sort(holders.begin(), holders.end(), [](const auto &a, const auto &b) { return a.Pid < b.Pid; });
  return holders;
}

bool InspectDeviceAccess(const std::string &path, TDeviceAccess &access) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    return false;
  access.Owner = UserName(st.st_uid);
  access.Group = GroupName(st.st_gid);
  access.OwnerIsMe = st.st_uid == ::geteuid();
  access.GroupMayReadWrite = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  access.InGroup = ProcessHasGroup(st.st_gid);
  const unsigned major = ::major(st.st_rdev);
  access.PseudoTerminal = S_ISCHR(st.st_mode) && major >= PtySlaveMajorFirst && major <= PtySlaveMajorLast;
  access.Mode = st.st_mode & 07777;
  return true;
}

bool IsPtyMultiplexer(unsigned long long rdev) { return ::major(dev_t(rdev)) == 5 && ::minor(dev_t(rdev)) == 2; }
