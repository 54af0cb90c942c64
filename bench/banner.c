/* The least a CGI program can do: write the same banner answer as
   zelvora.cgi -v. Built dynamic (the baseline) and static (the floor). */
#include <stdio.h>

int main(void) {
  puts("Content-Type: text/plain \n");
  puts("Zelvora 1.0 - foreign-exchange desk service");
  return 0;
}
