// Every byte of a response is written here: the regular answer, the banner
// answer (with a Status line for a caller refused whole), and the answers of
// the health check and the metrics. `out` is the request's output stream
// (standard output for a CGI request, the request's own stream in a worker);
// nothing is flushed here.
#ifndef ZELVORA_RESPONSE_H_
#define ZELVORA_RESPONSE_H_

#include <cstdio>
#include <string>

// `head` (a Status line where the answer is not 200, then the header fields,
// each ending in "\n"), the empty line that ends the header, then `body`
// unchanged (no line end added, no printf interpretation).
void WriteResponse(FILE* out, const std::string& head, const std::string& body);

// The regular answer: its header, then `answer`. 0 when written; -1, with
// nothing written, when `answer` is empty.
int WriteAnswer(FILE* out, const std::string& answer);

// The regular header and the version banner, with its line end.
void WriteBannerAnswer(FILE* out);

// The banner answer after `status` (a whole Status line, "\n" included).
void WriteRefusal(FILE* out, const char* status);

#endif  // ZELVORA_RESPONSE_H_
