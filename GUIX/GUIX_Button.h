#pragma once
// Push button: the callback runs when a press is released over the button.

#include <atomic>
#include <string>

#include "GUIX_Functor.h"
#include "GUIX_Label.h"

class GUIX_Button : public GUIX_Label {
public:
    GUIX_Button(GUIX_Widget* parent, const std::string& text, int x, int y, int width, int height);
    GUIX_Button(GUIX_Widget* parent, const std::string& text, int width, int height);
    ~GUIX_Button() override;  // deletes the callback

    void handleEvent(const GUIX_Event& event) override;
    void draw() override;

    // Takes ownership; replaces (and deletes) an earlier callback.
    void setCallback(GUIX_Functor* callback);
    bool hovered() const { return m_hovered.load(); }
    bool pressed() const { return m_pressed.load(); }

private:
    GUIX_Functor* m_callback = nullptr;
    std::atomic<bool> m_hovered{false};
    std::atomic<bool> m_pressed{false};
};
