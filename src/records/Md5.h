// MD5 message digest (RFC 1321), the system's own routine.
// Only the desk's other programs use it (title sets' keys); zelvora.cgi does
// not link it.
#ifndef ZELVORA_RECORDS_MD5_H_
#define ZELVORA_RECORDS_MD5_H_

#include <cstddef>
#include <cstdint>
#include <string>

class CMd5 {
 public:
  CMd5();
  // Adds `size` bytes at `data` to the message.
  void Update(const void* data, size_t size);
  // Ends the message and gives its 16-byte digest. The object is spent.
  void Final(uint8_t digest[16]);

 private:
  void Transform(const uint8_t block[64]);

  uint32_t state_[4];
  uint64_t bits_ = 0;
  uint8_t buffer_[64];
};

// The digest of `text` as 32 lower-case hexadecimal digits.
std::string Md5Hex(const std::string& text);

#endif  // ZELVORA_RECORDS_MD5_H_
