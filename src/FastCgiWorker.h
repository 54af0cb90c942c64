// The persistent mode. A worker started with a listening socket on standard
// input (spawn-fcgi, lighttpd's bin-path, mod_fcgid, systemd socket
// activation) accepts FastCGI requests one at a time on one thread and
// serves each exactly as the CGI program would: its body is the request's
// input stream; its answer and diagnostics go to the request's output and
// error streams. Its variables: the desk's settings from the worker's own
// environment where it has them, else from the request; bounds the smaller
// of the two; a zone only when it names a zone file (kVariables).
//
// A worker whose own environment sets ZELVORA_PEER_KEY (not empty) serves
// only requests whose ZELVORA_PEER_KEY parameter is that key: any other is
// answered 403 with the banner, the reason (never a key) on its error
// stream. The socket's permissions admit a user; the key admits only the
// web server whose configuration holds it, not every process of its user.
//
// What outlives a request: the loaded database library and its open
// connections (CDbSlot), the board mappings and semaphore references that
// CShmKeeper keeps (at most CShmKeeper::kKeptBoards boards), and the
// request variables as the last request set them (each holds its current
// value only). SIGTERM, SIGINT or SIGHUP ends the worker at once while it
// waits for a connection or a request's first byte, else after the request
// in hand; a client that hangs up costs its own request only.
//
// Each request has FCGI_TIMEOUT seconds (the worker's own environment; 30
// by default) on its connection, from its first byte to the end of its
// answer: then the connection is shut down, so a peer that trickles bytes
// holds the worker no longer. A connection that sends nothing for as long
// (an idle kept one too) is closed. Kept connections
// (FCGI_KEEP_CONN) serve one request after another. Whatever a request's
// body still holds after its answer is sent is read and dropped (at most
// 16 MiB, within that deadline) before the connection is closed or read on.
#ifndef ZELVORA_FASTCGIWORKER_H_
#define ZELVORA_FASTCGIWORKER_H_

// True when `fd` is a socket that accepts connections. One system call, so
// the CGI path pays next to nothing for asking.
bool IsListeningSocket(int fd);

// Serves requests on standard input until a stop signal or until the
// socket fails. Returns the process's exit status: 0, or 1 when the FastCGI
// library could not start.
int RunFastCgiWorker();

#endif  // ZELVORA_FASTCGIWORKER_H_
