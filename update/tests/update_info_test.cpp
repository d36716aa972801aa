// The signed update information, the digests and the signing tool.

#include <gtest/gtest.h>

#include <string>

#include "update/tests/update_fixture.h"
#include "update/update_info.h"

namespace quil::update::test {
namespace {

const std::string kDigestOfAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(UpdateInfo, SignedInformationVerifiesAndNamesDigestAndSize) {
    ReleaseKey key;
    std::string text = key.Sign("Quillet 3.1", kDigestOfAbc + " 3");
    auto lines = SplitLines(text);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Quillet 3.1");
    EXPECT_EQ(lines[1], kDigestOfAbc + " 3");

    std::string why;
    auto info = VerifyUpdateInfo(text, key.pair.publicKey, why);
    ASSERT_TRUE(info) << why;
    EXPECT_EQ(info->release, "Quillet 3.1");
    EXPECT_EQ(info->sha256, kDigestOfAbc);
    EXPECT_EQ(info->installerSize, 3);

    // Written on another system: CRLF endings and an upper-case digest without a size.
    std::string upper = kDigestOfAbc;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    lines = SplitLines(key.Sign("3.1", upper));
    info = VerifyUpdateInfo(lines[0] + "\r\n" + lines[1] + "\r\n" + lines[2] + "\r\n",
                            key.pair.publicKey, why);
    ASSERT_TRUE(info) << why;
    EXPECT_EQ(info->sha256, kDigestOfAbc);
    EXPECT_FALSE(info->installerSize);
}

TEST(UpdateInfo, AnythingChangedOrUnsignedDoesNotVerify) {
    ReleaseKey key;
    ReleaseKey other;
    std::string text = key.Sign("Quillet 3.1", kDigestOfAbc);
    auto lines = SplitLines(text);
    std::string why;

    EXPECT_FALSE(
        VerifyUpdateInfo("Quillet 3.2\n" + lines[1] + "\n" + lines[2], key.pair.publicKey, why));
    EXPECT_EQ(why, "the signature of the update information does not verify");
    std::string otherDigest(64, '0');
    EXPECT_FALSE(
        VerifyUpdateInfo(lines[0] + "\n" + otherDigest + "\n" + lines[2], key.pair.publicKey, why));
    EXPECT_FALSE(VerifyUpdateInfo(text, other.pair.publicKey, why));
    EXPECT_FALSE(VerifyUpdateInfo(lines[0] + "\n" + lines[1] + "\n", key.pair.publicKey, why));
    EXPECT_EQ(why, "the update information is not signed");
    EXPECT_FALSE(VerifyUpdateInfo("", key.pair.publicKey, why));
    EXPECT_FALSE(
        VerifyUpdateInfo(lines[0] + "\n" + lines[1] + "\nnot base64!", key.pair.publicKey, why));
    EXPECT_FALSE(VerifyUpdateInfo(text, "", why));
    EXPECT_EQ(why, "the public key is not a base64 Ed25519 key");
    EXPECT_FALSE(VerifyUpdateInfo(text, key.pair.secretKey, why));
}

TEST(UpdateInfo, SignedButMalformedDigestLineIsRefused) {
    ReleaseKey key;
    std::string why;
    for (std::string line :
         {std::string("abc"), kDigestOfAbc + "0", kDigestOfAbc + " ", kDigestOfAbc + " 12x",
          kDigestOfAbc + " -3", std::string(63, 'a') + "g"}) {
        EXPECT_FALSE(VerifyUpdateInfo(key.Sign("r", line), key.pair.publicKey, why)) << line;
        EXPECT_NE(why.find("signed but"), std::string::npos) << why;
    }
    std::string secret = key.pair.secretKey;
    EXPECT_EQ(SignUpdateInfo("two\nlines", kDigestOfAbc, secret, why), "");
    EXPECT_EQ(SignUpdateInfo("r", kDigestOfAbc, key.pair.publicKey, why), "");
}

TEST(UpdateInfo, FilesDigestsAndAddresses) {
    auto dir = quil::test::MakeTempDir("info-files");
    WriteFile(dir / "abc", "abc");
    std::string why;
    auto digest = Sha256OfFile(dir / "abc", why);
    ASSERT_TRUE(digest) << why;
    EXPECT_EQ(digest->sha256, kDigestOfAbc);
    EXPECT_EQ(digest->size, 3);
    EXPECT_EQ(DigestLine(*digest), kDigestOfAbc + " 3");
    EXPECT_FALSE(Sha256OfFile(dir / "missing", why));

    WriteFile(dir / "empty", "");
    EXPECT_EQ(ReadFirstLine(dir / "empty"), "");
    WriteFile(dir / "two", "1.0\r\nsecond\n");
    EXPECT_EQ(ReadFirstLine(dir / "two"), "1.0");
    EXPECT_FALSE(ReadFirstLine(dir / "missing"));
    WriteFile(dir / "big", std::string(kUpdateInfoLimit + 1, 'x'));
    EXPECT_FALSE(ReadSmallFile(dir / "big", kUpdateInfoLimit));
    EXPECT_TRUE(ReadSmallFile(dir / "big", kUpdateInfoLimit + 1));

    EXPECT_EQ(ServerUrl("http://h:1", kUpdateInfoPath), "http://h:1/update/Quilpack/update.ini");
    EXPECT_EQ(ServerUrl("http://h:1//", kInstallerPath),
              "http://h:1/product/Quilpack/Quilpack.exe");
}

TEST(QuilsignTool, MakesAKeySignsAndVerifiesARelease) {
    auto dir = quil::test::MakeTempDir("quilsign");
    std::string tool = QUILSIGN_PATH;
    auto run = [&](const std::string& arguments) {
        return quil::test::RunCommand("'" + tool + "' " + arguments + " >/dev/null 2>&1");
    };
    WriteFile(dir / "Quilpack.exe", "abc");
    ASSERT_EQ(run("keygen '" + (dir / "release.key").string() + "' '" +
                  (dir / "update.pub").string() + "'"),
              0);
    EXPECT_EQ(fs::status(dir / "release.key").permissions() & fs::perms::others_read,
              fs::perms::none);
    // A second key would leave every installed copy trusting a lost one.
    EXPECT_NE(
        run("keygen '" + (dir / "release.key").string() + "' '" + (dir / "x.pub").string() + "'"),
        0);
    ASSERT_EQ(
        run("sign '" + (dir / "release.key").string() + "' '" + (dir / "Quilpack.exe").string() +
            "' 'Quillet 3.1' '" + (dir / "update.ini").string() + "'"),
        0);

    std::string why;
    auto info = VerifyUpdateInfo(Slurp(dir / "update.ini"), Slurp(dir / "update.pub"), why);
    ASSERT_TRUE(info) << why;
    EXPECT_EQ(info->release, "Quillet 3.1");
    EXPECT_EQ(info->sha256, kDigestOfAbc);
    EXPECT_EQ(info->installerSize, 3);

    std::string verify =
        "verify '" + (dir / "update.pub").string() + "' '" + (dir / "update.ini").string() + "' ";
    EXPECT_EQ(run(verify + "'" + (dir / "Quilpack.exe").string() + "'"), 0);
    WriteFile(dir / "Quilpack.exe", "abd");
    EXPECT_NE(run(verify + "'" + (dir / "Quilpack.exe").string() + "'"), 0);
    EXPECT_NE(run("sign"), 0);
}

}  // namespace
}  // namespace quil::update::test
