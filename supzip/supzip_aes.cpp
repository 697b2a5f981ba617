#include "supzip_aes.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <cstring>

namespace supzip {

namespace {
constexpr int kKeyLen = 32;
constexpr int kIterations = 1000;
// Keystream is made in slices of this many blocks (1 MiB) to stay in cache.
constexpr size_t kSliceBlocks = 65536;
}  // namespace

WinZipAes::WinZipAes() = default;

WinZipAes::~WinZipAes() {
    EVP_CIPHER_CTX_free(m_cipher);
    EVP_MAC_CTX_free(m_mac);
}

bool WinZipAes::randomSalt(uint8_t* salt) {
    return RAND_bytes(salt, int(kAesSaltLen)) == 1;
}

bool WinZipAes::init(const char* password, const uint8_t* salt, uint8_t* verifier) {
    uint8_t keys[2 * kKeyLen + kAesVerifierLen];
    if (PKCS5_PBKDF2_HMAC_SHA1(password, int(strlen(password)), salt, int(kAesSaltLen), kIterations,
                               int(sizeof(keys)), keys) != 1) {
        return false;
    }
    memcpy(verifier, keys + 2 * kKeyLen, kAesVerifierLen);

    m_cipher = EVP_CIPHER_CTX_new();
    if (!m_cipher || EVP_EncryptInit_ex(m_cipher, EVP_aes_256_ecb(), nullptr, keys, nullptr) != 1) {
        return false;
    }
    EVP_CIPHER_CTX_set_padding(m_cipher, 0);

    EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    if (!mac) {
        return false;
    }
    m_mac = EVP_MAC_CTX_new(mac);
    EVP_MAC_free(mac);
    char digest[] = "SHA1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                           OSSL_PARAM_construct_end()};
    if (!m_mac || EVP_MAC_init(m_mac, keys + kKeyLen, kKeyLen, params) != 1) {
        return false;
    }
    m_counter = 0;
    m_left_len = 0;
    return true;
}

// Counter mode with WinZip's block counter: a 64-bit little-endian count from 1 in the first
// eight bytes of the block, zeros after it.
bool WinZipAes::crypt(const uint8_t* in, uint8_t* data, size_t len) {
    while (len > 0 && m_left_len > 0) {
        *data++ = uint8_t(*in++ ^ m_left[16 - m_left_len]);
        --m_left_len;
        --len;
    }
    while (len > 0) {
        size_t blocks = (len + 15) / 16;
        if (blocks > kSliceBlocks) {
            blocks = kSliceBlocks;
        }
        m_stream.resize(blocks * 16);
        uint8_t* s = m_stream.data();
        for (size_t b = 0; b < blocks; ++b) {
            uint64_t c = ++m_counter;
            for (int i = 0; i < 8; ++i) {
                s[b * 16 + size_t(i)] = uint8_t(c >> (8 * i));
            }
            memset(s + b * 16 + 8, 0, 8);
        }
        int out = 0;
        if (EVP_EncryptUpdate(m_cipher, s, &out, s, int(blocks * 16)) != 1 || size_t(out) != blocks * 16) {
            return false;
        }
        const size_t n = len < blocks * 16 ? len : blocks * 16;
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t d, k;
            memcpy(&d, in + i, 8);
            memcpy(&k, s + i, 8);
            d ^= k;
            memcpy(data + i, &d, 8);
        }
        for (; i < n; ++i) {
            data[i] = uint8_t(in[i] ^ s[i]);
        }
        if (n < blocks * 16) {
            // The rest of the last block's keystream serves the next call.
            m_left_len = blocks * 16 - n;
            memcpy(m_left + 16 - m_left_len, s + n, m_left_len);
        }
        in += n;
        data += n;
        len -= n;
    }
    return true;
}

bool WinZipAes::encrypt(uint8_t* data, size_t len) {
    return encrypt(data, data, len);
}

bool WinZipAes::encrypt(const uint8_t* in, uint8_t* out, size_t len) {
    return crypt(in, out, len) && EVP_MAC_update(m_mac, out, len) == 1;
}

bool WinZipAes::decrypt(uint8_t* data, size_t len) {
    return EVP_MAC_update(m_mac, data, len) == 1 && crypt(data, data, len);
}

bool WinZipAes::finish(uint8_t* mac) {
    uint8_t full[EVP_MAX_MD_SIZE];
    size_t len = 0;
    if (EVP_MAC_final(m_mac, full, &len, sizeof(full)) != 1 || len < kAesMacLen) {
        return false;
    }
    memcpy(mac, full, kAesMacLen);
    return true;
}

}  // namespace supzip
