// The stream server's listening socket: a local (AF_UNIX) one, never a
// network's, so that only who may open its file (the web server's user)
// connects.
#ifndef ZELVORA_STREAM_LOCALSOCKET_H_
#define ZELVORA_STREAM_LOCALSOCKET_H_

#include <string>

// Standard input when it is a listening local socket (as systemd's socket
// unit hands it over): 0; -1 when standard input is no listening socket;
// -2 with `error` when it listens on anything but a local socket.
int TakeGivenSocket(std::string& error);

// A listening socket made at `path`, mode 0600, in a folder no one but
// root or this user may write; it takes the place of a socket an earlier
// run left, never of anything else. "PATH.lock", held for the process's
// life, keeps a second server from taking the path of a live one (a server
// of a build before the lock file holds none: stop it first). The
// descriptor, or -1 with `error`.
int ListenAt(const std::string& path, std::string& error);

#endif  // ZELVORA_STREAM_LOCALSOCKET_H_
