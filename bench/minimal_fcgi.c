/* The least a FastCGI responder can do with libfcgi: write the same banner
   answer as zelvora.cgi -v for every request. The FastCGI baseline. */
#include <fcgiapp.h>

int main(void) {
  FCGX_Request request;
  FCGX_Init();
  FCGX_InitRequest(&request, 0, 0);
  while (FCGX_Accept_r(&request) == 0) {
    FCGX_PutS("Content-Type: text/plain \n\nZelvora 1.0 - foreign-exchange desk service\n",
              request.out);
    FCGX_Finish_r(&request);
  }
  return 0;
}
