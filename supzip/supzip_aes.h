#pragma once
// WinZip AES-256 (AE-2) entry encryption: PBKDF2-HMAC-SHA1 key derivation, AES in counter mode
// with the little-endian block counter WinZip uses, and the HMAC-SHA1 authentication code.
// Works on whole buffers so that AES-NI and SHA extensions run at full speed.
#include <cstddef>
#include <cstdint>
#include <vector>

struct evp_cipher_ctx_st;
struct evp_mac_ctx_st;

namespace supzip {

constexpr size_t kAesSaltLen = 16;
constexpr size_t kAesVerifierLen = 2;
constexpr size_t kAesMacLen = 10;
// Bytes AES adds to an entry: salt and password verifier before the data, the code after it.
constexpr size_t kAesOverhead = kAesSaltLen + kAesVerifierLen + kAesMacLen;

class WinZipAes {
public:
    WinZipAes();
    ~WinZipAes();
    WinZipAes(const WinZipAes&) = delete;
    WinZipAes& operator=(const WinZipAes&) = delete;

    // Derives the keys for `salt`; `verifier` receives the two password verification bytes.
    bool init(const char* password, const uint8_t* salt, uint8_t* verifier);
    // Encrypts in place and adds the cipher text to the authentication code.
    bool encrypt(uint8_t* data, size_t len);
    // The same from `in` into `out` (which may be `in`).
    bool encrypt(const uint8_t* in, uint8_t* out, size_t len);
    // Adds the cipher text to the authentication code and decrypts in place.
    bool decrypt(uint8_t* data, size_t len);
    // The first 10 bytes of the authentication code of all cipher text so far.
    bool finish(uint8_t* mac);

    static bool randomSalt(uint8_t* salt);

private:
    bool crypt(const uint8_t* in, uint8_t* out, size_t len);

    evp_cipher_ctx_st* m_cipher = nullptr;
    evp_mac_ctx_st* m_mac = nullptr;
    uint64_t m_counter = 0;
    std::vector<uint8_t> m_stream;
    uint8_t m_left[16] = {};
    size_t m_left_len = 0;
};

}  // namespace supzip
