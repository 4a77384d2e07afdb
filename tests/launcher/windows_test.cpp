// The three windows at the desktop's scale, on a private X server: the
// seed's sizes at 1, twice them at 2 (within what hinting rounds), texts
// measured twice as wide; a long text grows its window instead of being cut,
// in every language.

#include "XDisplay.h"

#include "Catalog.h"
#include "GUIX_Application.h"
#include "GUIX_Label.h"
#include "ProxyAuthenticationWindow.h"
#include "SessionCodeWindow.h"
#include "StatusWindow.h"

namespace {

auto* const kDisplay [[maybe_unused]] =
    ::testing::AddGlobalTestEnvironment(new testsupport::XDisplayEnvironment);

// Width and height of each window, then the width of the status text.
std::vector<int> Measure(double scale) {
    GUIX_Application::instance().setScale(scale);
    const StatusWindow status;
    const SessionCodeWindow code;
    const ProxyAuthenticationWindow proxy;
    return {status.width(),
            status.height(),
            code.width(),
            code.height(),
            proxy.width(),
            proxy.height(),
            status.textWidth("Connecting...")};
}

TEST(Windows, FollowTheScaleAndGrowToTheirTexts) {
    ASSERT_TRUE(GUIX_Application::instance().hasDisplay());
    const std::vector<int> one = Measure(1), two = Measure(2);
    EXPECT_EQ(std::vector<int>(one.begin(), one.begin() + 6), (std::vector<int>{350, 60, 350, 70, 310, 235}));
    for (std::size_t i = 0; i < one.size(); ++i) EXPECT_NEAR(two[i], 2 * one[i], 6) << i;

    GUIX_Application::instance().setScale(1);
    StatusWindow status;
    status.setText(Verbatim(
        "\u30bb\u30c3\u30b7\u30e7\u30f3\u30b3\u30fc\u30c9\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093"
        "\u3002\u62c5\u5f53\u8005\u306b\u304a\u554f\u3044\u5408\u308f\u305b\u304f\u3060\u3055\u3044\u3002"));
    EXPECT_EQ(status.width(), 350);
    EXPECT_GT(status.height(), 60 + status.lineHeight());  // three lines at least
    ProxyAuthenticationWindow proxy;
    proxy.setMessage(std::string(40, 'W') + " " + std::string(40, 'W'));
    EXPECT_GT(proxy.height(), 235);
    EXPECT_EQ(proxy.width(), 310);
}

// Every control shows all of its text (measured with the real fonts) in
// every language at scale 1, whatever the status window says.
TEST(Windows, EveryTextFitsItsControlInEveryLanguage) {
    ASSERT_TRUE(GUIX_Application::instance().hasDisplay());
    GUIX_Application::instance().setScale(1);
    std::vector<UiText> statuses = {
        Text(TextId::CONNECTING), Text(TextId::CANNOT_VERIFY_SERVER), Text(TextId::CANNOT_START_CLIENT),
        Text(TextId::LIBCURL_MISSING, {Verbatim("libcurl.so.4, libcurl-gnutls.so.4")})};
    for (int i = static_cast<int>(TextId::NO_NETWORK); i < static_cast<int>(TextId::COUNT); ++i) {
        const UiText reason = Text(static_cast<TextId>(i));
        statuses.push_back(WithCode(Text(TextId::TRYING_AGAIN, {reason}), "E-PROXY-503"));
        statuses.push_back(Lines({Text(TextId::CONNECTION_TIMEOUT), WithCode(reason, "E-PROXY-503")}));
    }
    std::vector<const Catalog*> languages = {nullptr};
    for (const Catalog& catalog : Catalogs()) languages.push_back(&catalog);
    const auto cut = [](const GUIX_Dialog& window) {
        std::string cut;
        for (GUIX_Widget* child : window.children().snapshot()) {
            const auto* c = dynamic_cast<const GUIX_Label*>(child);
            if (c && (((c->flags() & GUIX_TEXT_WRAP) == 0 && c->fitWidth(c->width()) > c->width()) ||
                      c->fitHeight(c->width(), c->height()) > c->height()))
                cut += " [" + c->text() + "]";
        }
        return cut;
    };
    for (const Catalog* language : languages) {
        SCOPED_TRACE(language ? language->language() : "en");
        StatusWindow status(language);
        for (const UiText& text : statuses) {
            status.setText(text);
            EXPECT_EQ(cut(status), "");
        }
        EXPECT_EQ(cut(SessionCodeWindow(language)), "");
        EXPECT_EQ(cut(ProxyAuthenticationWindow(language)), "");
    }
}

}  // namespace
