#pragma once
// Small builders the windows share, so labels, lists and notices look the
// same everywhere.
#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>

class QDialog;
class QFrame;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace calvora::desktop {

// A label in one font and colour on a transparent ground.
QLabel* NewLabel(const QString& Text, QWidget* Parent, const char* Name, const QFont& Font, const char* Colour);
// A read-only list in report view: whole rows selected, no tree lines.
QTreeWidget* NewReportList(QWidget* Parent, const char* Name, const QStringList& Columns, const QList<int>& Widths);
// The frame of the cloud browsing windows: a dark header with a large title
// and a status line, the list, and a white button band whose "Kapat" sits
// on the right; Buttons takes the others on the left.
struct TBrowseFrame {
  QFrame* Header = nullptr;
  QLabel* Info = nullptr;
  QLabel* Status = nullptr;
  QTreeWidget* List = nullptr;
  QFrame* Bottom = nullptr;
  QHBoxLayout* Buttons = nullptr;
  QPushButton* Close = nullptr;
};
TBrowseFrame BuildBrowseFrame(QWidget* Window, const QString& Title, const QStringList& Columns,
                              const QList<int>& Widths);
QPushButton* AddBandButton(const TBrowseFrame& Frame, const char* Name, const QString& Caption);

// Fills a window that is yet to be built with a heading, a text and a
// "Kapat" button.
void BuildNotice(QDialog* Window, const QString& Heading, const QString& Text);

}  // namespace calvora::desktop
