#include "rtm/orb/LocalSocket.h"

#include "rtm/util/ConfigError.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace RTC
{
  namespace
  {
    std::string userName()
    {
      if (const passwd* entry = getpwuid(getuid()))
        return entry->pw_name;
      return std::to_string(getuid());
    }

    std::string expandFolder(std::string folder)
    {
      for (std::size_t at = folder.find("%u"); at != std::string::npos; at = folder.find("%u", at))
        folder.replace(at, 2, userName());
      while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
      return folder;
    }

    mode_t parsePermission(const std::string& text)
    {
      char* end = nullptr;
      const unsigned long mode = std::strtoul(text.c_str(), &end, 8);
      const bool octal = !text.empty() && end && *end == '\0' && text.find_first_not_of("01234567") == std::string::npos;
      // The owner must be able to use its own folder; others get nothing.
      if (!octal || mode > 0777 || (mode & 0700) != 0700 || (mode & 0007) != 0)
        throw ConfigError("corba.local.permission must be an octal mode from 0700 to 0770 with no bit for "
                          "other users, not '" + text + "'");
      return static_cast<mode_t>(mode);
    }

    [[noreturn]] void failOn(const std::string& folder, const std::string& what)
    {
      throw ConfigError("cannot use the local socket folder " + folder + ": " + what +
                        " (set corba.local.folder, or corba.local.enable: NO)");
    }

    // True when something accepts connections on the socket file.
    bool listenedOn(const std::string& path)
    {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0)
        return true;  // cannot tell: keep the file
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
      const int result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
      const int error = errno;
      close(fd);
      return result == 0 || (error != ECONNREFUSED && error != ENOENT);
    }

    void removeDeadSockets(const std::string& folder)
    {
      DIR* dir = opendir(folder.c_str());
      if (!dir)
        failOn(folder, std::strerror(errno));
      while (const dirent* entry = readdir(dir)) {
        const std::string path = folder + "/" + entry->d_name;
        struct stat info{};
        if (lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == getuid() &&
            !listenedOn(path))
          unlink(path.c_str());
      }
      closedir(dir);
    }
  }

  LocalSocketSettings localSocketSettings(const Properties& config)
  {
    LocalSocketSettings settings;
    // Plain text: in TLS-only mode it would be a way around the certificates.
    settings.enabled = isYes(config.getProperty("corba.local.enable", "YES")) &&
                       trimmed(config.getProperty("corba.ssl.mode", "off")) != "only";
    settings.folder = expandFolder(trimmed(config.getProperty("corba.local.folder", "/tmp/korvent-%u")));
    settings.permission = parsePermission(trimmed(config.getProperty("corba.local.permission", "0700")));
    settings.group = trimmed(config.getProperty("corba.local.group"));
    if (settings.folder.empty() || settings.folder.front() != '/')
      throw ConfigError("corba.local.folder must be an absolute path, not '" + settings.folder + "'");
    const std::string name = trimmed(config.getProperty("manager.name", "manager"));
    settings.socketPath = settings.folder + "/" + (name.empty() ? "manager" : name) + "-" + std::to_string(getpid());
    if (settings.socketPath.size() >= sizeof(sockaddr_un::sun_path))
      throw ConfigError("corba.local.folder is too long for a socket path: " + settings.socketPath);
    return settings;
  }

  void prepareLocalSocketFolder(const LocalSocketSettings& settings)
  {
    if (!settings.enabled)
      return;
    const std::string& folder = settings.folder;
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
      failOn(folder, std::strerror(errno));
    // An existing folder may have been made by someone else to listen in:
    // use it only when it is a real folder of this user.
    struct stat info{};
    if (lstat(folder.c_str(), &info) != 0)
      failOn(folder, std::strerror(errno));
    if (!S_ISDIR(info.st_mode))
      failOn(folder, "not a folder");
    if (info.st_uid != getuid())
      failOn(folder, "it belongs to another user");
    mode_t mode = settings.permission;
    if (!settings.group.empty()) {
      const group* entry = getgrnam(settings.group.c_str());
      if (!entry)
        throw ConfigError("corba.local.group: no group '" + settings.group + "'");
      if (chown(folder.c_str(), static_cast<uid_t>(-1), entry->gr_gid) != 0)
        failOn(folder, "cannot give it to group " + settings.group + ": " + std::strerror(errno));
      mode |= S_ISGID;  // the socket inherits the folder's group
    }
    if (chmod(folder.c_str(), mode) != 0)
      failOn(folder, std::strerror(errno));
    removeDeadSockets(folder);
  }

  std::vector<std::string> localSocketOrbOptions(const LocalSocketSettings& settings)
  {
    if (!settings.enabled)
      return {};
    char permission[8];
    std::snprintf(permission, sizeof permission, "%o", static_cast<unsigned>(settings.permission & 0777));
    return {"-ORBendPoint", "giop:unix:" + settings.socketPath, "-ORBunixTransportPermission", permission};
  }
}
