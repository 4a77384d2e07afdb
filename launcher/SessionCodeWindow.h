#pragma once
// "Enter code": asks for the session code when the copy carries none.

#include <memory>
#include <string>

#include "GUIX_Dialog.h"
#include "Texts.h"

class GUIX_Button;
class GUIX_TextLine;

class SessionCodeWindow : public GUIX_Dialog {
public:
    static constexpr int kResultOk = 2;

    // Its words from catalog (null: English).
    explicit SessionCodeWindow(const Catalog* catalog = nullptr);
    ~SessionCodeWindow() override;

    std::string code() const;

    void onOk();

private:
    std::unique_ptr<GUIX_TextLine> m_code;
    std::unique_ptr<GUIX_Button> m_ok;
};
