// Base64 (RFC 4648 section 4: standard alphabet, '=' padding), without line breaks.
#pragma once

#include <cstddef>
#include <cstdint>

class CBase64Coder {
 public:
  CBase64Coder();
  CBase64Coder(const CBase64Coder&) = delete;
  CBase64Coder& operator=(const CBase64Coder&) = delete;
  virtual ~CBase64Coder();

  // Nothing happens for a null text.
  virtual void EncodeString(const char* text);
  virtual void Encode(const void* bytes, std::size_t count);
  virtual void DecodeString(const char* text);
  // Blanks and control characters 7-13 are skipped; other characters outside the alphabet
  // decode to some bytes without an error.
  virtual void Decode(const char* text, std::size_t count);

  // Both results are NUL-terminated.
  virtual const unsigned char* DecodedData() const;
  virtual const char* EncodedText() const;
  virtual int DecodedLength() const;
  virtual int EncodedLength() const;

  // Grow when needed (in steps of 4096, always above the request), zero-fill, length 0.
  virtual void ReserveEncoded(std::size_t count);
  virtual void ReserveDecoded(std::size_t count);
  virtual void SetEncodedInput(const char* text, std::size_t count);
  virtual void SetDecodedInput(const void* bytes, std::size_t count);

 protected:
  struct Group {
    unsigned char bytes[3];
    int count;  // 1 to 3
  };
  virtual void EncodeGroup(const Group& group, char* out);
  virtual void DecodeGroup(const unsigned char values[4], unsigned char* out);
  virtual void SplitGroup(const unsigned char bytes[3], unsigned char values[4]);
  virtual void JoinGroup(const unsigned char values[4], unsigned char bytes[3]);
  virtual bool IsSkippedChar(char c);

 private:
  unsigned char* m_decoded = nullptr;
  char* m_encoded = nullptr;
  std::size_t m_decodedCapacity = 0;
  std::size_t m_encodedCapacity = 0;
  std::size_t m_decodedLength = 0;
  std::size_t m_encodedLength = 0;
};
