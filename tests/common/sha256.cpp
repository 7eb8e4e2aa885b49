#include "tests/common/sha256.h"

#include <openssl/evp.h>

#include <array>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace vexmor::test {

namespace {

class Digest {
public:
    Digest() : ctx_(EVP_MD_CTX_new(), EVP_MD_CTX_free) {
        if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1) throw std::runtime_error("SHA-256 init failed");
    }
    void Update(const void* data, std::size_t size) {
        if (EVP_DigestUpdate(ctx_.get(), data, size) != 1) throw std::runtime_error("SHA-256 update failed");
    }
    std::string HexFinal() {
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(ctx_.get(), digest.data(), &length) != 1) throw std::runtime_error("SHA-256 final failed");
        static constexpr char kHex[] = "0123456789abcdef";
        std::string hex;
        for (unsigned int i = 0; i < length; ++i) {
            hex += kHex[digest[i] >> 4];
            hex += kHex[digest[i] & 0xF];
        }
        return hex;
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
};

}  // namespace

std::string Sha256Hex(std::string_view bytes) {
    Digest digest;
    digest.Update(bytes.data(), bytes.size());
    return digest.HexFinal();
}

std::string Sha256OfFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    Digest digest;
    std::array<char, 65536> buffer;
    while (in) {
        in.read(buffer.data(), buffer.size());
        digest.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
    }
    return digest.HexFinal();
}

}  // namespace vexmor::test
