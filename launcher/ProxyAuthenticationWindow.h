#pragma once
// "Proxy Authentication": login and password for a proxy that demands them,
// under the proxy's own message (its realm or domain).

#include <memory>
#include <string>

#include "GUIX_Dialog.h"
#include "Texts.h"

class GUIX_Button;
class GUIX_Label;
class GUIX_PasswordLine;
class GUIX_TextLine;

class ProxyAuthenticationWindow : public GUIX_Dialog {
public:
    static constexpr int kResultClosed = 0;
    static constexpr int kResultOk = 2;
    static constexpr int kResultCancel = 3;

    // Its words from catalog (null: English).
    explicit ProxyAuthenticationWindow(const Catalog* catalog = nullptr);
    ~ProxyAuthenticationWindow() override;

    // GUI thread: the message (UTF-8), the window grown to show all of it.
    void setMessage(const std::string& text);
    std::string login() const;
    std::string password() const;

    void onOk();
    void onCancel();
    bool onCloseRequest() override;

private:
    void layout();

    std::unique_ptr<GUIX_Label> m_loginCaption;
    std::unique_ptr<GUIX_Label> m_passwordCaption;
    std::unique_ptr<GUIX_TextLine> m_login;
    std::unique_ptr<GUIX_PasswordLine> m_password;
    std::unique_ptr<GUIX_Label> m_domainCaption;
    std::unique_ptr<GUIX_Label> m_message;
    std::unique_ptr<GUIX_Button> m_cancelButton;
    std::unique_ptr<GUIX_Button> m_okButton;
};
