#pragma once
// Single-line text entry that takes the keyboard focus within its dialog.
// Characters are appended at the cursor (always the end of the text),
// BackSpace removes the last one, Return calls the Return callback.

#include <atomic>
#include <cstdint>
#include <string>

#include "GUIX_Focusable.h"
#include "GUIX_Functor.h"
#include "GUIX_Label.h"

class GUIX_TextLine : public GUIX_Label, public GUIX_Focusable {
public:
    GUIX_TextLine(GUIX_Widget* parent, const std::string& text, int x, int y, int width, int height,
                  std::uint32_t flags = 0);
    ~GUIX_TextLine() override;  // deletes the Return callback

    void handleEvent(const GUIX_Event& event) override;
    void draw() override;

    // Takes ownership; replaces (and deletes) an earlier callback.
    void setReturnCallback(GUIX_Functor* callback);
    void setEditable(bool editable) { m_editable.store(editable); }
    bool editable() const { return m_editable.load(); }
    int cursor() const { return m_cursor.load(); }
    GUIX_Color focusColor() const { return m_focusColor; }

protected:
    // What the entry shows (the text itself; the password entry masks it).
    virtual std::string shownText() const;

private:
    std::atomic<int> m_cursor{0};
    GUIX_Color m_focusColor{160, 160, 255};
    GUIX_Functor* m_returnCallback = nullptr;
    std::atomic<bool> m_editable{true};
};
