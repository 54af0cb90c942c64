#include "stream/LocalSocket.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/OwnFolder.h"

int TakeGivenSocket(std::string& error) {
  int accepting = 0, domain = 0;
  socklen_t size = sizeof accepting;
  if (getsockopt(0, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) != 0 || accepting == 0) {
    return -1;
  }
  size = sizeof domain;
  if (getsockopt(0, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0 || domain != AF_UNIX) {
    error = "standard input listens on a network: the server takes only a local socket";
    return -2;
  }
  const int flags = fcntl(0, F_GETFL);
  if (flags < 0 || fcntl(0, F_SETFL, flags | O_NONBLOCK) != 0) {
    error = "cannot use the socket on standard input";
    return -2;
  }
  return 0;
}

int ListenAt(const std::string& path, std::string& error) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) {
    error = "ZELVORA_STREAM_SOCKET is empty or too long for a socket's name";
    return -1;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  // Whoever may write the folder could put a socket of their own there
  // first, and the web server would hand them its key and its callers.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool unfit = folderFd < 0 || UnfitFolder(folderFd) != nullptr;
  if (folderFd >= 0) close(folderFd);
  if (unfit) {
    error = "the socket's folder " + folder + " is not root's or this user's alone to write";
    return -1;
  }
  struct stat there;
  const std::string lockPath = path + ".lock";
  const int lock = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock < 0 || flock(lock, LOCK_EX | LOCK_NB) != 0) {
    error = lock < 0 ? "cannot open " + lockPath + " (" + std::strerror(errno) + ")"
                     : "another server runs on " + path;
    if (lock >= 0) close(lock);
    return -1;
  }
  if (lstat(path.c_str(), &there) == 0 && S_ISSOCK(there.st_mode)) unlink(path.c_str());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  const mode_t mask = umask(0177);
  const bool bound =
      fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  umask(mask);
  if (!bound || listen(fd, 511) != 0) {
    error = "cannot listen on " + path + " (" + std::strerror(errno) + ")";
    if (fd >= 0) close(fd);
    close(lock);
    return -1;
  }
  return fd;  // the lock stays held until the process ends
}
