#include "desktop/DesktopPalette.h"

#include <QStringList>

namespace calvora::desktop {

QFont DesktopFont(int pointSize, bool bold) {
  QFont font;
  // The first family the machine has wins; DejaVu Sans is always there on
  // the systems this is built for.
  font.setFamilies({"Segoe UI", "Noto Sans", "Open Sans", "DejaVu Sans"});
  font.setPointSize(pointSize);
  font.setBold(bold);
  return font;
}

QString DesktopStyleSheet() {
  using namespace palette;
  return QString(R"(
QWidget { color: %1; }
QMainWindow, QDialog { background: %2; }
QMenuBar { background: %3; border-bottom: 1px solid %4; }
QMenuBar::item { padding: 4px 10px; background: transparent; }
QMenuBar::item:selected { background: %5; }
QMenu { background: %3; border: 1px solid %4; }
QMenu::item { padding: 5px 22px; }
QMenu::item:selected { background: %5; }
QMenu::item:disabled, QMenuBar::item:disabled { color: #A0A8B2; }
QToolBar { background: %3; border: none; border-bottom: 1px solid %4; spacing: 4px; padding: 4px 8px; }
QToolBar QToolButton { padding: 5px 10px; border: 1px solid transparent; border-radius: 4px; }
QToolBar QToolButton:hover { background: %5; border-color: %4; }
QToolBar QToolButton:pressed { background: %4; }
QToolBar QToolButton:disabled { color: #A0A8B2; }
QTreeWidget, QPlainTextEdit { background: %3; border: 1px solid %4; }
QTreeWidget::item { padding: 3px 2px; }
QTreeWidget::item:selected { background: %6; color: #FFFFFF; }
QHeaderView::section { background: %2; color: %7; border: none; border-bottom: 1px solid %4;
                       border-right: 1px solid %4; padding: 4px 6px; }
QLineEdit { background: %3; border: 1px solid %4; border-radius: 4px; padding: 4px 8px; }
QLineEdit:focus { border-color: %6; }
QPushButton { background: %3; border: 1px solid %4; border-radius: 4px; padding: 6px 14px; }
QPushButton:hover { background: %5; }
QPushButton:disabled { color: #A0A8B2; }
QPushButton:default { background: %6; border-color: %6; color: #FFFFFF; }
QPushButton:default:hover { background: %8; }
QPushButton:default:disabled { background: #9DB7D6; border-color: #9DB7D6; }
QProgressBar { background: #E6EAF0; border: none; border-radius: 2px; }
QProgressBar::chunk { background: %6; border-radius: 2px; }
QStatusBar { background: %3; border-top: 1px solid %4; }
QStatusBar QLabel { color: %7; padding: 0 6px; }
QSplitter::handle { background: %2; }
)")
      .arg(QString(kText), QString(kGround), QString(kSurface), QString(kBorder), QString(kAccentSoft),
           QString(kAccent), QString(kMuted), QString(kAccentHover));
}

}  // namespace calvora::desktop
