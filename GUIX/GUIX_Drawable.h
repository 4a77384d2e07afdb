#pragma once
// Geometry, colours, the one font and drawing. Requests (show, hide, repaint,
// move, resize) are posted to the widget's own window and carried out on the
// GUI thread; drawing operations are called on the GUI thread (from draw()).
//
// Coordinates and sizes are pixels. Insets and frame depths are lengths of
// the toolkit's 1x design and follow the desktop's scale (the application's
// at the time the drawable was made), as do the font and the text margins.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "GUIX_Color.h"
#include "GUIX_Widget.h"

// Placement and text flags of the drawable's flag word.
enum : std::uint32_t {
    GUIX_CENTER_H = 0x1,  // centre horizontally in the parent
    GUIX_CENTER_V = 0x2,  // centre vertically in the parent
    GUIX_TEXT_HCENTER = 0x8,
    GUIX_TEXT_RIGHT = 0x10,
    GUIX_FRAME_SUNKEN = 0x20,  // labels: sunken 2-pixel frame (wins over raised)
    GUIX_FRAME_RAISED = 0x40,  // labels: raised 2-pixel frame
    GUIX_TEXT_TOP = 0x200,
    GUIX_TEXT_BOTTOM = 0x800,
    GUIX_TEXT_WRAP = 0x1000,
};

// One line of a laid-out text block: text[start, start+length) (bytes of
// UTF-8, whole characters) drawn at (x, baseline).
struct GUIX_TextLineLayout {
    std::size_t start = 0;
    std::size_t length = 0;
    int x = 0;
    int baseline = 0;
};

class GUIX_Drawable : public GUIX_Widget {
public:
    GUIX_Drawable(GUIX_Widget* parent, int x, int y, int width, int height, std::uint32_t flags);
    // Top-level form (no parent).
    GUIX_Drawable(int x, int y, int width, int height, std::uint32_t flags);
    ~GUIX_Drawable() override;

    void handleEvent(const GUIX_Event& event) override;
    virtual void draw();

    // Requests, carried out on the GUI thread (move and resize at once when
    // called there, or while no loop runs).
    void show();
    void hide();
    void repaint();
    void move(int x, int y);
    void resize(int width, int height);
    void showChild(GUIX_Widget* child);

    int x() const { return m_x; }
    int y() const { return m_y; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    std::uint32_t flags() const { return m_flags; }
    // The parent's size, or the screen's size without a parent (0 while the loop is not running).
    int parentWidth() const;
    int parentHeight() const;

    // Colours.
    void setDrawColor(const GUIX_Color& colour);
    void setBackground(const GUIX_Color& colour);       // stores and requests a repaint
    void setBackgroundColor(const GUIX_Color& colour);  // no repaint
    void setForeground(const GUIX_Color& colour);
    void setLightColor(const GUIX_Color& colour);
    GUIX_Color background() const;
    GUIX_Color foreground() const;
    GUIX_Color light() const;

    // Drawing (GUI thread). text is UTF-8, with its baseline at y.
    void drawString(const GUIX_Color& colour, std::string_view text, int x, int y);
    void drawLine(const GUIX_Color& colour, int x1, int y1, int x2, int y2);
    void drawRect(const GUIX_Color& colour, int x, int y, int w, int h);  // outline covers exactly w x h
    void fillRect(const GUIX_Color& colour, int x, int y, int w, int h);
    // A one-line (scaled) border at inset.
    void drawBorder(const GUIX_Color& colour, int inset);
    void clear(int inset);
    void drawRaisedFrame2(int inset);
    void drawSunkenFrame2(int inset);
    void drawRaisedFrame3(int inset);
    void drawSunkenFrame3(int inset);
    // The text block: split into lines, aligned by the text bits of flags, in the foreground colour.
    void drawTextBlock(const std::string& text, std::uint32_t flags);

    // The font's measures (GUI thread, or before the loop runs).
    int lineHeight() const;
    int ascent() const;
    int descent() const;
    int textWidth(std::string_view text) const;
    bool hasFont() const;
    // A length of the 1x design at this drawable's scale.
    int scaled(int length) const;
    // The text block's lines for this drawable's font and margins, for a box of width x height.
    std::vector<GUIX_TextLineLayout> layoutText(const std::string& text, int width, int height,
                                                std::uint32_t flags) const;

    // Pure layout of a text block (no X involved). Lines wrap (GUIX_TEXT_WRAP)
    // within width - 2 * margin, after the last space that fits, else after
    // the last character that fits; textWidth gives a piece's pixel width.
    static std::vector<GUIX_TextLineLayout> layoutText(const std::string& text, int width, int height,
                                                       std::uint32_t flags, int ascent, int descent,
                                                       int margin,
                                                       const std::function<int(std::string_view)>& textWidth);

protected:
    void setGeometry(int x, int y) {
        m_x = x;
        m_y = y;
    }
    // Draws a frame of n bands (one line each at 1x), given from the outside in, for each side.
    void drawFrame(int inset, const GUIX_Color* topLeft, const GUIX_Color* bottomRight, int n);

private:
    static int placeX(GUIX_Widget* parent, int x, int width, std::uint32_t flags);
    static int placeY(GUIX_Widget* parent, int y, int height, std::uint32_t flags);
    void init(int x, int y, int width, int height, std::uint32_t flags);
    void request(const GUIX_Event& event);
    void repaintTree();

    std::atomic<int> m_x{0};
    std::atomic<int> m_y{0};
    std::atomic<int> m_width{0};
    std::atomic<int> m_height{0};
    std::uint32_t m_flags = 0;
    double m_scale = 1;
    unsigned long m_colormap = 0;
    class GUIX_Font* m_font = nullptr;  // the application's, for m_scale
    struct XState;
    std::unique_ptr<XState> m_xs;  // GC and Xft's drawing surface
    mutable std::mutex m_colourMutex;
    GUIX_Color m_background{200, 200, 200};
    GUIX_Color m_light{200, 200, 200};
    GUIX_Color m_foreground{0, 0, 0};
};
