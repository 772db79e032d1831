#include "fs/secret.hpp"

#include <gtest/gtest.h>

#include <string_view>

namespace {

struct SecretCase {
    std::string_view name;
    bool secret;
};

TEST(FsSecretFile, NamesByTheRule) {
    const SecretCase cases[] = {
        // names beginning with .env, in any letter case
        {".env", true},
        {".env.local", true},
        {".envrc", true},
        {".env.production", true},
        {".ENV", true},
        {".Env.Local", true},
        {"env", false},
        {"x.env", false},
        {"my.env.bak", false},
        {" .env", false},
        // the key and certificate suffixes
        {"server.pem", true},
        {"Server.PEM", true},
        {"tls.key", true},
        {"cert.p12", true},
        {"release.keystore", true},
        {"RELEASE.KEYSTORE", true},
        {".pem", true},
        {"server.pem.bak", false},
        {"keys.txt", false},
        {"monkey", false},
        {"p12", false},
        {"notes.keystore.md", false},
        // key material anywhere in the name
        {"id_rsa", true},
        {"id_rsa.pub", true},
        {"backup-ID_RSA-old", true},
        {"id_ed25519", true},
        {"Id_Ed25519.pub", true},
        {"id_ecdsa", false},
        {"id-rsa", false},
        // ordinary and odd names
        {"", false},
        {"README.md", false},
        {"environment.txt", false},
        {"\xc3\x89.env", false},
        {".env\xc3\xa9", true},
        // bytes that are not UTF-8 do not hide a key: the rule reads bytes
        {"\xff" "backup.pem", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        EXPECT_EQ(fsaccess::is_secret_file(c.name), c.secret);
    }
}

}  // namespace
