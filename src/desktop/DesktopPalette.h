#pragma once
// The desktop's colours and fonts, in one place so every window looks the
// same: a light, slightly cool grey ground, white cards with a thin border,
// one dark slate band at the top of a window, one calm blue for what can be
// pressed or is selected, and red kept for errors. Text is dark slate on
// light grounds and white on dark ones, readable at a glance.
//
// The service panel's colours are part of the window's meaning (red
// stopped, amber changing, green running, slate unknown) and are listed
// with the panel.
#include <QColor>
#include <QFont>
#include <QString>

namespace calvora::desktop {

namespace palette {

inline constexpr const char* kGround = "#F3F5F8";    // window background
inline constexpr const char* kSurface = "#FFFFFF";   // cards, lists, edits
inline constexpr const char* kBorder = "#D8DEE6";    // card and list frames
inline constexpr const char* kHeroBand = "#1F2A37";  // dark band at the top
inline constexpr const char* kHeroText = "#FFFFFF";
inline constexpr const char* kHeroMuted = "#B8C2CF";  // subtitle on the dark band
inline constexpr const char* kText = "#1F2A37";       // body text
inline constexpr const char* kMuted = "#5B6775";      // captions, hints
inline constexpr const char* kAccent = "#2F6FB5";     // buttons, selection, bars
inline constexpr const char* kAccentHover = "#285F9C";
inline constexpr const char* kAccentSoft = "#E3EDF8";  // hover on flat buttons
inline constexpr const char* kError = "#C0392B";       // error texts
inline constexpr const char* kInfoText = "#444444";    // the sign-in window's instruction line

// Service panel: background and caption colour per state; the value is
// white on every background.
struct TServicePanelColours {
  const char* Background;
  const char* Caption;
};
inline constexpr TServicePanelColours kServiceStopped{"#8A4442", "#F2D9D7"};  // not installed, stopped
inline constexpr TServicePanelColours kServicePending{"#C88100", "#FAECD8"};  // start or stop pending
inline constexpr TServicePanelColours kServiceRunning{"#2C6B3A", "#CFE8D7"};
inline constexpr TServicePanelColours kServiceNeutral{"#374657", "#C3CCD8"};  // unknown, query failed, initial

}  // namespace palette

// "Segoe UI" where it exists, else the closest humanist sans of the
// machine; the size in points.
QFont DesktopFont(int pointSize, bool bold = false);

// The style sheet every window of the desktop uses.
QString DesktopStyleSheet();

}  // namespace calvora::desktop
