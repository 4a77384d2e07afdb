#pragma once
// Digests, base64, the AES cipher object and the text encryption built on them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "String_Utils_Unix.h"

// ---- digests ---------------------------------------------------------------
// MD5 as 32 lower-case hexadecimal digits.
std::string Md5Hex(const void* data, std::size_t length);
// MD5 of the 8-bit text a followed by b (b may be null), upper-case digits.
std::string Md5HexUpper(const char* a, const char* b = nullptr);

// ---- base64 ----------------------------------------------------------------
// Decodes characters of the standard alphabet up to the first character that is
// not in it ('=', end of text, line break, ...), 6 bits per character from the
// most significant bit on. Returns the number of bytes touched, ceil(6k/8) for k
// decoded characters, and writes one zero byte behind them.
// `out` must hold ceil(6k/8) + 1 bytes; strlen(text) * 3 / 4 + 2 is always enough.
// Note: for padded input the count is one more than the encoded length
// ("Zg==" gives 2), the extra byte holding the unused low bits (0 when canonical).
int Base64Decode(const char* text, unsigned char* out);

// ---- growable byte buffer --------------------------------------------------
// Owns `data` (malloc). After Append the content is followed by two zero bytes,
// so it can be read as an 8-bit or 16-bit zero-terminated text.
struct ByteBuffer {
    unsigned char* data = nullptr;
    std::size_t capacity = 0;
    std::size_t length = 0;

    ByteBuffer() = default;
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;

    // length = n; capacity grows to n + 64 when it is below that. False: no memory.
    bool SetLength(std::size_t n);
    // Appends n bytes and two zero bytes behind the new end. False: no memory.
    bool Append(const void* bytes, std::size_t n);
};

// ---- AES -------------------------------------------------------------------
class AesCipher {
public:
    enum Mode { MODE_ECB = 0, MODE_CBC = 1, MODE_CFB = 2 };  // padded calls: ECB/CBC only
    enum Direction { DIR_ENCRYPT = 0, DIR_DECRYPT = 1 };
    enum KeyLength { KEY_128 = 0, KEY_192 = 1, KEY_256 = 2 };
    enum Result {
        RE_OK = 0,
        RE_UNSUPPORTED_MODE = -1,
        RE_UNSUPPORTED_DIRECTION = -2,
        RE_UNSUPPORTED_KEY_LENGTH = -3,
        RE_BAD_KEY = -4,
        RE_NOT_INITIALIZED = -5,
        RE_BAD_DIRECTION = -6,
        RE_BAD_DATA = -7,
    };

    AesCipher();
    ~AesCipher();
    AesCipher(const AesCipher&) = delete;
    AesCipher& operator=(const AesCipher&) = delete;

    // key: 16/24/32 bytes for code 0/1/2. iv: 16 bytes, or null for zeros.
    // Returns 0 or a negative Result.
    int Init(int mode, int direction, const unsigned char* key, int keyLengthCode,
             const unsigned char* iv = nullptr);
    // PKCS#7: returns 16 * (length / 16 + 1), 0 for no input, or a negative Result.
    // `out` must hold length + 16 bytes. Chaining continues from the last block.
    int PadEncrypt(const unsigned char* in, int length, unsigned char* out);
    // length must be a multiple of 16 (else -7); returns length - pad, 0 for no
    // input, or a negative Result (-7 for bad padding). `out` must hold length bytes.
    int PadDecrypt(const unsigned char* in, int length, unsigned char* out);

private:
    struct Impl;  // EVP context and chaining block
    std::unique_ptr<Impl> m_impl;
};

// ---- text encryption -------------------------------------------------------
// AES-256 key: the 32 ASCII characters of Md5Hex over the UTF-16LE bytes of keyText.
std::string DeriveTextKey(const WChar* keyText);
// AES-256-CBC (zero IV, PKCS#7) of the UTF-16LE bytes of plain, as upper-case
// hexadecimal. Empty plain gives an empty text. Malloc'ed; null on failure.
WString EncryptTextToHex(const WChar* plain, const WChar* keyText);
// Inverse of EncryptTextToHex (either case of digits). Null for an odd number of
// digits (or null input); an empty text (malloc'ed) when decryption fails.
WString DecryptHexToText(const WChar* hex, const WChar* keyText);
// Encrypts the bytes of `in` (length bytes) into upper-case hexadecimal in `out`
// (followed by zero bytes). False when the cipher text is empty or on failure.
bool EncryptBytesToHex(const ByteBuffer& in, const WChar* keyText, ByteBuffer& out);

// Values exchanged with the support server, under the fixed service key text.
std::string EncryptForServer(const std::string& plain);
// Logs "Decrypt ERROR" for an odd number of digits; "" on any failure.
std::string DecryptFromServer(const std::string& hex);
// The buffer up to its first ';' through DecryptFromServer; without ';' logs
// "Invalid connection string buffer (no semicolon)" and gives "".
std::string DecryptConnectionString(const char* buffer);
