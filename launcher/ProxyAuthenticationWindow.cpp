#include "ProxyAuthenticationWindow.h"

#include <algorithm>

#include "GUIX_Application.h"
#include "GUIX_Button.h"
#include "GUIX_Label.h"
#include "GUIX_MethodFunctor.h"
#include "GUIX_PasswordLine.h"
#include "GUIX_TextLine.h"

namespace {

constexpr int kRightAligned = 0x10;
constexpr int kTopWrapped = 0x1200;

// The 1x design: 310 x 235; captions 90 wide at x 20, entries 170 wide at x
// 120, rows 30 high 10 apart from y 30; the message 70 high; Cancel and Ok
// 80 wide, 10 apart, 10 below the message; 15 below them.
constexpr int kMargin = 20, kTop = 30, kCaptionWidth = 90, kGap = 10, kEntryWidth = 170, kRowHeight = 30,
              kMessageHeight = 70, kButtonWidth = 80, kBottom = 15;

int Px(int length) { return GUIX_Application::instance().px(length); }

}  // namespace

ProxyAuthenticationWindow::ProxyAuthenticationWindow(const Catalog* catalog)
    : GUIX_Dialog(ScreenText(TextId::PROXY_AUTHENTICATION, catalog),
                  Px(kMargin + kCaptionWidth + kGap + kEntryWidth + kMargin),
                  Px(kTop + 2 * (kRowHeight + kGap) + kMessageHeight + kGap + kRowHeight + kBottom), 0x3) {
    using Self = ProxyAuthenticationWindow;
    const int entryX = scaled(kMargin + kCaptionWidth + kGap);
    auto caption = [&](TextId text) {
        return std::make_unique<GUIX_Label>(this, ScreenText(text, catalog), scaled(kMargin), 0,
                                            scaled(kCaptionWidth), scaled(kRowHeight), kRightAligned);
    };
    m_loginCaption = caption(TextId::LOGIN);
    m_passwordCaption = caption(TextId::PASSWORD);
    // Created before the password entry: the login entry holds the focus first.
    m_login =
        std::make_unique<GUIX_TextLine>(this, "", entryX, 0, scaled(kEntryWidth), scaled(kRowHeight), 0);
    m_login->setReturnCallback(new GUIX_MethodFunctor<Self>(this, &Self::onOk));
    m_password =
        std::make_unique<GUIX_PasswordLine>(this, "", entryX, 0, scaled(kEntryWidth), scaled(kRowHeight), 0);
    m_password->setReturnCallback(new GUIX_MethodFunctor<Self>(this, &Self::onOk));
    m_domainCaption = caption(TextId::DOMAIN);
    m_message = std::make_unique<GUIX_Label>(this, "", entryX, 0, scaled(kEntryWidth), scaled(kMessageHeight),
                                             kTopWrapped);
    m_cancelButton = std::make_unique<GUIX_Button>(this, ScreenText(TextId::CANCEL, catalog), entryX, 0,
                                                   scaled(kButtonWidth), scaled(kRowHeight));
    m_cancelButton->setCallback(new GUIX_MethodFunctor<Self>(this, &Self::onCancel));
    m_okButton = std::make_unique<GUIX_Button>(this, ScreenText(TextId::OK, catalog), entryX, 0,
                                               scaled(kButtonWidth), scaled(kRowHeight));
    m_okButton->setCallback(new GUIX_MethodFunctor<Self>(this, &Self::onOk));
    layout();
}

ProxyAuthenticationWindow::~ProxyAuthenticationWindow() = default;

// The design's places, moved apart where a text needs more room: a wider
// caption moves the entries right, a longer message moves the buttons down.
void ProxyAuthenticationWindow::layout() {
    int captionWidth = scaled(kCaptionWidth), rowHeight = scaled(kRowHeight);
    for (GUIX_Label* c : {m_loginCaption.get(), m_passwordCaption.get(), m_domainCaption.get()}) {
        captionWidth = c->fitWidth(captionWidth);
        rowHeight = c->fitHeight(captionWidth, rowHeight);
    }
    const int cancelWidth = m_cancelButton->fitWidth(scaled(kButtonWidth));
    const int okWidth = m_okButton->fitWidth(scaled(kButtonWidth));
    for (GUIX_Label* b : {m_cancelButton.get(), m_okButton.get()})
        rowHeight = b->fitHeight(okWidth, rowHeight);
    const int entryX = scaled(kMargin) + captionWidth + scaled(kGap);
    const int entryWidth = std::max(scaled(kEntryWidth), cancelWidth + scaled(kGap) + okWidth);
    const int messageHeight = m_message->fitHeight(entryWidth, scaled(kMessageHeight));

    int y = scaled(kTop);
    auto row = [&](GUIX_Label* caption, GUIX_Label* field, int fieldHeight) {
        caption->move(scaled(kMargin), y);
        caption->resize(captionWidth, rowHeight);
        field->move(entryX, y);
        field->resize(entryWidth, fieldHeight);
        y += fieldHeight + scaled(kGap);
    };
    row(m_loginCaption.get(), m_login.get(), rowHeight);
    row(m_passwordCaption.get(), m_password.get(), rowHeight);
    row(m_domainCaption.get(), m_message.get(), messageHeight);
    // The buttons end where the entries end.
    m_okButton->move(entryX + entryWidth - okWidth, y);
    m_okButton->resize(okWidth, rowHeight);
    m_cancelButton->move(entryX + entryWidth - okWidth - scaled(kGap) - cancelWidth, y);
    m_cancelButton->resize(cancelWidth, rowHeight);
    resize(entryX + entryWidth + scaled(kMargin), y + rowHeight + scaled(kBottom));
}

void ProxyAuthenticationWindow::setMessage(const std::string& text) {
    m_message->setText(text);
    layout();
}

std::string ProxyAuthenticationWindow::login() const { return m_login->text(); }

std::string ProxyAuthenticationWindow::password() const { return m_password->text(); }

void ProxyAuthenticationWindow::onOk() {
    setResultCode(kResultOk);
    close();
}

void ProxyAuthenticationWindow::onCancel() {
    setResultCode(kResultCancel);
    close();
}

bool ProxyAuthenticationWindow::onCloseRequest() {
    setResultCode(kResultClosed);
    return true;
}
