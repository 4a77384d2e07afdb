#include "Crypto.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "CryptoLibrary.h"
#include "Log.h"

// ---- digests ---------------------------------------------------------------

std::string Md5Hex(const void* data, std::size_t length) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    const CryptoFunctions* crypto = CryptoLibrary();
    if (!crypto) return out;  // no digest: callers treat the empty text as failure
    if (!crypto->EVP_Digest(length ? data : "", length, digest, &size, crypto->EVP_md5(), nullptr))
        return out;
    out.reserve(2 * size);
    for (unsigned int i = 0; i < size; ++i) {
        out.push_back(kDigits[digest[i] >> 4]);
        out.push_back(kDigits[digest[i] & 0x0F]);
    }
    return out;
}

std::string Md5HexUpper(const char* a, const char* b) {
    std::string text(a ? a : "");
    if (b) text += b;
    std::string out = Md5Hex(text.data(), text.size());
    for (char& c : out)
        if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

// ---- base64 ----------------------------------------------------------------

namespace {

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

int Base64Decode(const char* text, unsigned char* out) {
    if (!out) return 0;
    int count = 0;
    unsigned int bits = 0;  // pending bits, left-aligned at `pending`
    int pending = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text ? text : "");; ++p) {
        int v = Base64Value(*p);
        if (v < 0) break;
        bits = (bits << 6) | static_cast<unsigned int>(v);
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            out[count++] = static_cast<unsigned char>(bits >> pending);
            bits &= (1u << pending) - 1;
        }
    }
    // The bits left over still touch one more byte.
    if (pending > 0) out[count++] = static_cast<unsigned char>(bits << (8 - pending));
    out[count] = 0;
    return count;
}

// ---- ByteBuffer ------------------------------------------------------------

ByteBuffer::~ByteBuffer() { std::free(data); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data(other.data), capacity(other.capacity), length(other.length) {
    other.data = nullptr;
    other.capacity = other.length = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        std::free(data);
        data = other.data;
        capacity = other.capacity;
        length = other.length;
        other.data = nullptr;
        other.capacity = other.length = 0;
    }
    return *this;
}

bool ByteBuffer::SetLength(std::size_t n) {
    if (capacity < n + 64) {
        void* grown = std::realloc(data, n + 64);
        if (!grown) return false;
        data = static_cast<unsigned char*>(grown);
        capacity = n + 64;
    }
    length = n;
    return true;
}

bool ByteBuffer::Append(const void* bytes, std::size_t n) {
    std::size_t old = length;
    if (!SetLength(old + n)) return false;
    if (n) std::memcpy(data + old, bytes, n);
    data[old + n] = 0;
    data[old + n + 1] = 0;
    return true;
}

// ---- AesCipher -------------------------------------------------------------
// OpenSSL's ECB without padding serves as the raw block primitive; chaining and
// padding are done here so that every result code stays under our control.

struct AesCipher::Impl {
    struct CtxFree {
        void operator()(EVP_CIPHER_CTX* c) const { CryptoLibrary()->EVP_CIPHER_CTX_free(c); }
    };
    std::unique_ptr<EVP_CIPHER_CTX, CtxFree> ctx;
    bool initialized = false;
    int mode = 0;
    int direction = 0;
    unsigned char chain[16] = {};

    bool Block(const unsigned char* in, unsigned char* out) {
        int n = 0;
        return CryptoLibrary()->EVP_CipherUpdate(ctx.get(), out, &n, in, 16) == 1 && n == 16;
    }
};

AesCipher::AesCipher() : m_impl(std::make_unique<Impl>()) {}

AesCipher::~AesCipher() = default;

int AesCipher::Init(int mode, int direction, const unsigned char* key, int keyLengthCode,
                    const unsigned char* iv) {
    m_impl->initialized = false;
    if (mode < MODE_ECB || mode > MODE_CFB) return RE_UNSUPPORTED_MODE;
    if (direction != DIR_ENCRYPT && direction != DIR_DECRYPT) return RE_UNSUPPORTED_DIRECTION;
    if (keyLengthCode < KEY_128 || keyLengthCode > KEY_256) return RE_UNSUPPORTED_KEY_LENGTH;
    if (!key) return RE_BAD_KEY;
    const CryptoFunctions* crypto = CryptoLibrary();
    if (!crypto) return RE_NOT_INITIALIZED;
    const EVP_CIPHER* cipher = keyLengthCode == KEY_128   ? crypto->EVP_aes_128_ecb()
                               : keyLengthCode == KEY_192 ? crypto->EVP_aes_192_ecb()
                                                          : crypto->EVP_aes_256_ecb();
    if (!m_impl->ctx) m_impl->ctx.reset(crypto->EVP_CIPHER_CTX_new());
    if (!m_impl->ctx) return RE_NOT_INITIALIZED;
    // CFB runs the block cipher forwards in both directions.
    int enc = (direction == DIR_ENCRYPT || mode == MODE_CFB) ? 1 : 0;
    if (crypto->EVP_CipherInit_ex(m_impl->ctx.get(), cipher, nullptr, key, nullptr, enc) != 1)
        return RE_BAD_KEY;
    crypto->EVP_CIPHER_CTX_set_padding(m_impl->ctx.get(), 0);
    m_impl->mode = mode;
    m_impl->direction = direction;
    if (iv)
        std::memcpy(m_impl->chain, iv, 16);
    else
        std::memset(m_impl->chain, 0, 16);
    m_impl->initialized = true;
    return RE_OK;
}

int AesCipher::PadEncrypt(const unsigned char* in, int length, unsigned char* out) {
    Impl& s = *m_impl;
    if (!s.initialized) return RE_NOT_INITIALIZED;
    if (s.mode != MODE_ECB && s.mode != MODE_CBC) return RE_UNSUPPORTED_MODE;
    if (s.direction == DIR_DECRYPT) return RE_NOT_INITIALIZED;
    if (!in || length < 1) return 0;
    if (!out) return RE_BAD_DATA;
    const int full = length / 16;
    unsigned char block[16];
    for (int i = 0; i <= full; ++i) {
        if (i < full) {
            std::memcpy(block, in + 16 * i, 16);
        } else {
            const int rest = length - 16 * full;
            const unsigned char pad = static_cast<unsigned char>(16 - rest);
            std::memcpy(block, in + 16 * full, static_cast<std::size_t>(rest));
            std::memset(block + rest, pad, pad);
        }
        if (s.mode == MODE_CBC)
            for (int j = 0; j < 16; ++j) block[j] ^= s.chain[j];
        if (!s.Block(block, out + 16 * i)) return RE_BAD_DATA;
        if (s.mode == MODE_CBC) std::memcpy(s.chain, out + 16 * i, 16);
    }
    return 16 * (full + 1);
}

int AesCipher::PadDecrypt(const unsigned char* in, int length, unsigned char* out) {
    Impl& s = *m_impl;
    if (!s.initialized) return RE_NOT_INITIALIZED;
    if (s.mode != MODE_ECB && s.mode != MODE_CBC) return RE_UNSUPPORTED_MODE;
    if (s.direction == DIR_ENCRYPT) return RE_BAD_DIRECTION;
    if (!in || length < 1) return 0;
    if (length % 16 != 0 || !out) return RE_BAD_DATA;
    unsigned char block[16];
    for (int i = 0; i < length / 16; ++i) {
        const unsigned char* c = in + 16 * i;
        if (!s.Block(c, block)) return RE_BAD_DATA;
        if (s.mode == MODE_CBC) {
            for (int j = 0; j < 16; ++j) block[j] ^= s.chain[j];
            std::memcpy(s.chain, c, 16);  // before writing: in and out may be the same
        }
        std::memcpy(out + 16 * i, block, 16);
    }
    const unsigned char pad = out[length - 1];
    if (pad < 1 || pad > 16) return RE_BAD_DATA;
    for (int i = length - pad; i < length; ++i)
        if (out[i] != pad) return RE_BAD_DATA;
    return length - pad;
}

// ---- text encryption -------------------------------------------------------

namespace {

// The service's key text for values exchanged with the server.
const WChar kServiceKeyText[] = u"quarkmellowfern";

// UTF-16LE bytes of a 16-bit text (without the terminator).
std::string Utf16LeBytes(const WChar* text) {
    std::string out;
    const std::size_t n = w16::wcslen(text);
    out.reserve(2 * n);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(static_cast<char>(text[i] & 0xFF));
        out.push_back(static_cast<char>(text[i] >> 8));
    }
    return out;
}

bool InitTextCipher(AesCipher& aes, int direction, const WChar* keyText) {
    const std::string key = DeriveTextKey(keyText);
    if (key.size() != 32) return false;
    return aes.Init(AesCipher::MODE_CBC, direction, reinterpret_cast<const unsigned char*>(key.data()),
                    AesCipher::KEY_256, nullptr) == AesCipher::RE_OK;
}

// Encrypts `length` bytes; fills `hex` with upper-case digits. Returns the cipher
// length (0 for no input) or a negative result.
int EncryptToHexDigits(const unsigned char* bytes, std::size_t length, const WChar* keyText,
                       std::string& hex) {
    hex.clear();
    if (length == 0) return 0;
    if (length > 0x7FFFFFF0u) return AesCipher::RE_BAD_DATA;
    AesCipher aes;
    if (!InitTextCipher(aes, AesCipher::DIR_ENCRYPT, keyText)) return AesCipher::RE_BAD_KEY;
    std::unique_ptr<unsigned char[]> cipher(new (std::nothrow) unsigned char[length + 16]);
    if (!cipher) return AesCipher::RE_BAD_DATA;
    const int n = aes.PadEncrypt(bytes, static_cast<int>(length), cipher.get());
    if (n <= 0) return n;
    static const char kDigits[] = "0123456789ABCDEF";
    hex.reserve(2 * static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        hex.push_back(kDigits[cipher[i] >> 4]);
        hex.push_back(kDigits[cipher[i] & 0x0F]);
    }
    return n;
}

int HexPair(char hi, char lo) {
    // Base-16 parse of the pair alone: a pair that starts with a non-digit gives 0.
    const char pair[3] = {hi, lo, 0};
    return static_cast<int>(std::strtol(pair, nullptr, 16));
}

WString EmptyWString() { return static_cast<WString>(std::calloc(1, sizeof(WChar))); }

}  // namespace

std::string DeriveTextKey(const WChar* keyText) {
    const std::string bytes = Utf16LeBytes(keyText);
    return Md5Hex(bytes.data(), bytes.size());
}

WString EncryptTextToHex(const WChar* plain, const WChar* keyText) {
    const std::string bytes = Utf16LeBytes(plain);
    std::string hex;
    if (EncryptToHexDigits(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), keyText, hex) <
        0)
        return nullptr;
    return ToWString(hex.c_str());
}

WString DecryptHexToText(const WChar* hex, const WChar* keyText) {
    if (!hex) return nullptr;
    const std::string digits = ToNarrow(hex);
    if (digits.size() % 2 != 0) return nullptr;
    const std::size_t length = digits.size() / 2;
    if (length == 0 || length > 0x7FFFFFF0u) return EmptyWString();
    std::unique_ptr<unsigned char[]> bytes(new (std::nothrow) unsigned char[length]);
    if (!bytes) return nullptr;
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<unsigned char>(HexPair(digits[2 * i], digits[2 * i + 1]));
    AesCipher aes;
    if (!InitTextCipher(aes, AesCipher::DIR_DECRYPT, keyText)) return EmptyWString();
    const int n = aes.PadDecrypt(bytes.get(), static_cast<int>(length), bytes.get());
    if (n < 1) return EmptyWString();
    // An odd byte count keeps its last byte as the low half of a final unit, so the
    // text always ends inside the buffer.
    const std::size_t units = (static_cast<std::size_t>(n) + 1) / 2;
    WString out = static_cast<WString>(std::calloc(units + 1, sizeof(WChar)));
    if (!out) return nullptr;
    for (int i = 0; i < n; ++i) out[i / 2] = static_cast<WChar>(out[i / 2] | (bytes[i] << ((i % 2) * 8)));
    return out;
}

bool EncryptBytesToHex(const ByteBuffer& in, const WChar* keyText, ByteBuffer& out) {
    std::string hex;
    if (!in.data || EncryptToHexDigits(in.data, in.length, keyText, hex) <= 0) return false;
    out.length = 0;
    return out.Append(hex.data(), hex.size());
}

std::string EncryptForServer(const std::string& plain) {
    // Bytes widened to units: the UTF-16LE form is byte, 0, byte, 0, ...
    std::string bytes;
    bytes.reserve(2 * plain.size());
    for (char c : plain) {
        bytes.push_back(c);
        bytes.push_back('\0');
    }
    std::string hex;
    if (EncryptToHexDigits(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                           kServiceKeyText, hex) < 0)
        return std::string();
    return hex;
}

std::string DecryptFromServer(const std::string& hex) {
    WString wideHex = ToWString(hex);
    WString plain = DecryptHexToText(wideHex, kServiceKeyText);
    FreeWString(wideHex);
    if (!plain) {
        LogWrite("Decrypt ERROR");
        return std::string();
    }
    std::string out = ToNarrow(plain);
    FreeWString(plain);
    return out;
}

std::string DecryptConnectionString(const char* buffer) {
    const char* semicolon = buffer ? std::strchr(buffer, ';') : nullptr;
    if (!semicolon) {
        LogWrite("Invalid connection string buffer (no semicolon)");
        return std::string();
    }
    return DecryptFromServer(std::string(buffer, static_cast<std::size_t>(semicolon - buffer)));
}
