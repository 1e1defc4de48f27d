// Signing in to a camera, without a network: the Digest values against the
// worked examples of RFC 7616 and RFC 2617, the challenges a camera may
// send, and which of them the stand-in answers, how, and how often.
#include "authchallenge.h"
#include "httpauth.h"
#include "signin.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<CAuthChallenge> Challenges(const std::vector<std::string>& headers)
{
    std::vector<CAuthChallenge> challenges;
    for (const std::string& strHeader : headers)
        ParseChallenges(strHeader, &challenges);
    return challenges;
}

// The RFC 7616 example's two challenges, as its server sends them.
const std::vector<std::string> s_rfc7616Headers = {
    "Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=SHA-256, "
    "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"",
    "Digest realm=\"http-auth@example.org\", qop=\"auth, auth-int\", algorithm=MD5, "
    "nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"",
};

// What a GET's Digest answer without qop is worked out from: password "p", nonce "n".
httpauth::CDigestInput PlainInput(const std::string& strUser, const std::string& strRealm, const std::string& strUri)
{
    httpauth::CDigestInput input;
    input.m_strUser = strUser;
    input.m_strRealm = strRealm;
    input.m_strPassword = "p";
    input.m_strMethod = "GET";
    input.m_strUri = strUri;
    input.m_strNonce = "n";
    return input;
}

} // namespace

TEST(SignIn, DigestReproducesTheWorkedExamplesOfRfc7616AndRfc2617)
{
    const std::vector<CAuthChallenge> challenges = Challenges(s_rfc7616Headers);
    ASSERT_EQ(2u, challenges.size());
    const std::string strCnonce = "f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ";
    const std::string strCommon =
        "Digest username=\"Mufasa\", realm=\"http-auth@example.org\", uri=\"/dir/index.html\", algorithm=";
    const std::string strMiddle = ", nonce=\"7ypf/xlj9XXwfDPEoM4URrv/xwf94BcCAzFZH4GiTo0v\", nc=00000001, "
                                  "cnonce=\"f2/wE4q74E6zIJEtWaHKaf5wv/H5QzzpXusqGemxURZJ\", qop=auth, response=\"";
    const std::string strOpaque = "\", opaque=\"FQhe/qaU925kfnzjCev0ciny7QMkPqMAFRtzCUYo5tdS\"";
    EXPECT_EQ(strCommon + "SHA-256" + strMiddle + "753927fa0e85d155564e2e272a28d1802ca10daf4496794697cf8db5856cb6c1" +
                  strOpaque,
              DigestAuthorization(challenges[0], "Mufasa", "Circle of Life", "/dir/index.html", "00000001", strCnonce));
    EXPECT_EQ(strCommon + "MD5" + strMiddle + "8ca523f5e9506fed4657c9700eebdbec" + strOpaque,
              DigestAuthorization(challenges[1], "Mufasa", "Circle of Life", "/dir/index.html", "00000001", strCnonce));

    // The older example (section 3.5 of RFC 2617), MD5 without an algorithm named.
    httpauth::CDigestInput input;
    input.m_strUser = "Mufasa";
    input.m_strRealm = "testrealm@host.com";
    input.m_strPassword = "Circle Of Life";
    input.m_strMethod = "GET";
    input.m_strUri = "/dir/index.html";
    input.m_strNonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
    input.m_strNc = "00000001";
    input.m_strCnonce = "0a4f113b";
    input.m_strQop = "auth";
    EXPECT_EQ("6629fae49393a05397450978507c4ef1", httpauth::DigestResponse(input));
    EXPECT_EQ("Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==", httpauth::BasicAuthorization("Aladdin", "open sesame"));
}

TEST(SignIn, ChallengesAreAListWithQuotedStringsAndEscapes)
{
    const std::vector<CAuthChallenge> challenges =
        Challenges({ "Basic realm=\"cam, \\\"front\\\"\", Digest nonce=abc , qop=\"auth,auth-int\", realm=r",
                     "Negotiate YWJj==, Digest realm=\"x\\\\y\", nonce=\"n\"" });
    ASSERT_EQ(4u, challenges.size());
    EXPECT_EQ("basic", challenges[0].m_strScheme);
    EXPECT_EQ("cam, \"front\"", challenges[0].Param("realm"));
    EXPECT_EQ("digest", challenges[1].m_strScheme);
    EXPECT_EQ("abc", challenges[1].Param("nonce"));
    EXPECT_EQ("auth,auth-int", challenges[1].Param("qop"));
    EXPECT_EQ("r", challenges[1].Param("realm"));
    EXPECT_EQ("negotiate", challenges[2].m_strScheme);
    EXPECT_EQ("YWJj==", challenges[2].Param(""));
    EXPECT_EQ("x\\y", challenges[3].Param("realm"));
    EXPECT_EQ("", challenges[3].Param("opaque"));
}

TEST(SignIn, TheStrongestSchemeOfferedIsAnsweredAndBasicOnlyAlone)
{
    const std::string strSha256 = "Digest realm=\"r\", nonce=\"n1\", qop=\"auth\", algorithm=SHA-256";
    const std::string strMd5 = "Digest realm=\"r\", nonce=\"n2\", qop=\"auth\", algorithm=MD5";
    const std::string strBasic = "Basic realm=\"r\"";
    struct CCase
    {
        std::vector<std::string> m_headers;
        CSignIn::Result m_result;
        std::string m_strStart; // of the answer
    };
    const CCase cases[] = {
        { { strBasic, strMd5 + ", " + strSha256 }, CSignIn::ANSWERED, "Digest username=\"u\", realm=\"r\", uri=\"/v\", algorithm=SHA-256, nonce=\"n1\"" },
        { { strBasic, strMd5 }, CSignIn::ANSWERED, "Digest username=\"u\", realm=\"r\", uri=\"/v\", algorithm=MD5, nonce=\"n2\"" },
        { { "Digest realm=\"r\", nonce=\"n\"" }, CSignIn::ANSWERED, "Digest username=\"u\", realm=\"r\", uri=\"/v\", nonce=\"n\", response=\"" },
        { { strBasic }, CSignIn::ANSWERED, "Basic dTpw" },
        // Nothing the stand-in may answer: Basic is not a way round a Digest it can't do.
        { { strBasic, "Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256" }, CSignIn::CANT_ANSWER, "" },
        { { "Digest realm=\"r\", nonce=\"n\", qop=\"auth-int\"", strBasic }, CSignIn::CANT_ANSWER, "" },
        { { "Digest realm=\"r\"" }, CSignIn::CANT_ANSWER, "" },
        { { "Negotiate" }, CSignIn::CANT_ANSWER, "" },
    };
    for (const CCase& test : cases) {
        CSignIn signIn("u", "p");
        std::string strAnswer;
        EXPECT_EQ(test.m_result, signIn.Answer(Challenges(test.m_headers), "/v", &strAnswer)) << test.m_headers[0];
        EXPECT_EQ(0u, strAnswer.find(test.m_strStart)) << strAnswer;
    }
    std::string strAnswer;
    EXPECT_EQ(CSignIn::NO_CREDENTIALS, CSignIn("", "p").Answer(Challenges({ strBasic }), "/v", &strAnswer));
}

TEST(SignIn, AStaleNonceIsAnsweredOnceMoreAndARefusalEndsIt)
{
    CSignIn signIn("u", "p");
    std::string strFirst, strSecond, strThird;
    ASSERT_EQ(CSignIn::ANSWERED,
              signIn.Answer(Challenges({ "Digest realm=\"r\", nonce=\"old\", qop=auth" }), "/v", &strFirst));
    ASSERT_EQ(CSignIn::ANSWERED,
              signIn.Answer(Challenges({ "Digest realm=\"r\", nonce=\"new\", qop=auth, stale=TRUE" }), "/v", &strSecond));
    EXPECT_NE(std::string::npos, strSecond.find("nonce=\"new\", nc=00000001")) << strSecond;
    EXPECT_EQ(CSignIn::REFUSED,
              signIn.Answer(Challenges({ "Digest realm=\"r\", nonce=\"newer\", qop=auth, stale=true" }), "/v", &strThird));
    // Without stale=true a second challenge is a refusal at once.
    CSignIn other("u", "p");
    ASSERT_EQ(CSignIn::ANSWERED, other.Answer(Challenges({ "Basic realm=\"r\"" }), "/v", &strFirst));
    EXPECT_EQ(CSignIn::REFUSED, other.Answer(Challenges({ "Basic realm=\"r\"" }), "/v", &strThird));

    // A new request chain may answer again; the same nonce counts on.
    signIn.Restart();
    std::string strAgain;
    ASSERT_EQ(CSignIn::ANSWERED,
              signIn.Answer(Challenges({ "Digest realm=\"r\", nonce=\"new\", qop=auth" }), "/v", &strAgain));
    EXPECT_NE(std::string::npos, strAgain.find("nonce=\"new\", nc=00000002")) << strAgain;
    // Each answer has a fresh client nonce.
    EXPECT_NE(strSecond.substr(strSecond.find("cnonce")), strAgain.substr(strAgain.find("cnonce")));
}

TEST(SignIn, ACameraThatOfferedDigestOnceIsNeverSentBasic)
{
    CSignIn signIn("u", "p");
    std::string strAnswer;
    ASSERT_EQ(CSignIn::ANSWERED, signIn.Answer(Challenges({ "Digest realm=\"r\", nonce=\"n\"" }), "/v", &strAnswer));
    // Later in the session (a reconnection, a redirect) only Basic is offered.
    signIn.Restart();
    strAnswer.clear();
    EXPECT_EQ(CSignIn::CANT_ANSWER, signIn.Answer(Challenges({ "Basic realm=\"r\"" }), "/v", &strAnswer));
    EXPECT_EQ("", strAnswer);
    // An offer of Digest it can't answer counts too.
    CSignIn other("u", "p");
    EXPECT_EQ(CSignIn::CANT_ANSWER,
              other.Answer(Challenges({ "Digest realm=\"r\", nonce=\"n\", algorithm=SHA-512-256" }), "/v", &strAnswer));
    other.Restart();
    EXPECT_EQ(CSignIn::CANT_ANSWER, other.Answer(Challenges({ "Basic realm=\"r\"" }), "/v", &strAnswer));
}

TEST(SignIn, WhatTheCameraSentIsEscapedAndUserNamesBeyondAsciiGoAsUtf8)
{
    // Quotes and backslashes in realm and opaque go back escaped.
    CAuthChallenge challenge;
    challenge.m_strScheme = "digest";
    challenge.m_params = { { "realm", "cam \"1\" \\ door" }, { "nonce", "n" }, { "opaque", "o\"\\" } };
    const std::string strAnswer = DigestAuthorization(challenge, "Jos\xC3\xA9", "p", "/a%20b?c=1", "", "");
    EXPECT_EQ(0u, strAnswer.find("Digest username=\"Jos\xC3\xA9\", realm=\"cam \\\"1\\\" \\\\ door\", uri=\"/a%20b?c=1\""))
        << strAnswer;
    EXPECT_NE(std::string::npos, strAnswer.find(", opaque=\"o\\\"\\\\\"")) << strAnswer;
    // The response is worked out from the name's UTF-8 bytes (not sign-extended, not another code page).
    EXPECT_NE(std::string::npos,
              strAnswer.find("response=\"" +
                             httpauth::DigestResponse(PlainInput("Jos\xC3\xA9", "cam \"1\" \\ door", "/a%20b?c=1")) + "\""))
        << strAnswer;

    // A camera that says it reads UTF-8 gets the extended form.
    challenge.m_params.emplace_back("charset", "UTF-8");
    EXPECT_EQ(0u, DigestAuthorization(challenge, "J\xC3\xA4s\xC3\xB8n Doe", "p", "/", "", "")
                      .find("Digest username*=UTF-8''J%C3%A4s%C3%B8n%20Doe, realm="));
    // A realm's bytes beyond ASCII (Latin-1 here) are hashed and sent back as they came.
    CSignIn latin1("u", "p");
    std::string strLatin1;
    ASSERT_EQ(CSignIn::ANSWERED,
              latin1.Answer(Challenges({ "Digest realm=\"caf\xE9\", nonce=\"n\"" }), "/v", &strLatin1));
    EXPECT_NE(std::string::npos, strLatin1.find("realm=\"caf\xE9\"")) << strLatin1;
    EXPECT_NE(std::string::npos,
              strLatin1.find("response=\"" + httpauth::DigestResponse(PlainInput("u", "caf\xE9", "/v")) + "\""))
        << strLatin1;
}
