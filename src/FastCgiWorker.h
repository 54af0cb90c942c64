// The persistent mode. A worker started with a listening socket on standard
// input (spawn-fcgi, lighttpd's bin-path, mod_fcgid, systemd socket
// activation) accepts FastCGI requests one at a time on one thread and
// serves each exactly as the CGI program would: its variables come from the
// request's parameters, or from the worker's own environment where the
// request carries none; its body is the request's input stream; its answer
// and diagnostics go to the request's output and error streams.
//
// Only the loaded database library and one open connection outlive a
// request. SIGTERM ends the worker after the request in hand; a client that
// hangs up costs its own request only.
#ifndef ZELVORA_FASTCGIWORKER_H_
#define ZELVORA_FASTCGIWORKER_H_

// True when `fd` is a socket that accepts connections. One system call, so
// the CGI path pays next to nothing for asking.
bool IsListeningSocket(int fd);

// Serves requests on standard input until SIGTERM or until the socket
// fails. Returns the process's exit status: 0, or 1 when the FastCGI
// library could not start.
int RunFastCgiWorker();

#endif  // ZELVORA_FASTCGIWORKER_H_
