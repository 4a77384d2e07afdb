#include "ProxyAuthenticationWindow.h"

#include "GUIX_Button.h"
#include "GUIX_Label.h"
#include "GUIX_MethodFunctor.h"
#include "GUIX_PasswordLine.h"
#include "GUIX_TextLine.h"

namespace {
constexpr int kRightAligned = 0x10;
constexpr int kTopWrapped = 0x1200;
}  // namespace

ProxyAuthenticationWindow::ProxyAuthenticationWindow() : GUIX_Dialog("Proxy Authentication", 310, 235, 0x3) {
    using Self = ProxyAuthenticationWindow;
    m_loginCaption = std::make_unique<GUIX_Label>(this, "Login:", 20, 30, 90, 30, kRightAligned);
    m_passwordCaption = std::make_unique<GUIX_Label>(this, "Password:", 20, 70, 90, 30, kRightAligned);
    // Created before the password entry: the login entry holds the focus first.
    m_login = std::make_unique<GUIX_TextLine>(this, "", 120, 30, 170, 30, 0);
    m_login->setReturnCallback(new GUIX_MethodFunctor<Self>(this, &Self::onOk));
    m_password = std::make_unique<GUIX_PasswordLine>(this, "", 120, 70, 170, 30, 0);
    m_password->setReturnCallback(new GUIX_MethodFunctor<Self>(this, &Self::onOk));
    m_domainCaption = std::make_unique<GUIX_Label>(this, "Domain:", 20, 110, 90, 30, kRightAligned);
    m_message = std::make_unique<GUIX_Label>(this, "", 120, 110, 170, 70, kTopWrapped);
    m_cancelButton = std::make_unique<GUIX_Button>(this, "Cancel", 120, 190, 80, 30);
    m_cancelButton->setCallback(new GUIX_MethodFunctor<Self>(this, &Self::onCancel));
    m_okButton = std::make_unique<GUIX_Button>(this, "Ok", 210, 190, 80, 30);
    m_okButton->setCallback(new GUIX_MethodFunctor<Self>(this, &Self::onOk));
}

ProxyAuthenticationWindow::~ProxyAuthenticationWindow() = default;

void ProxyAuthenticationWindow::setMessage(const std::string& text) { m_message->setText(text); }

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
