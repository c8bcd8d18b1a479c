#pragma once
// Small builders the windows share, so labels, lists and notices look the
// same everywhere.
#include <QFont>
#include <QList>
#include <QString>
#include <QStringList>

class QDialog;
class QLabel;
class QTreeWidget;
class QWidget;

namespace calvora::desktop {

// A label in one font and colour on a transparent ground.
QLabel* NewLabel(const QString& Text, QWidget* Parent, const char* Name, const QFont& Font, const char* Colour);
// A read-only list in report view: whole rows selected, no tree lines.
QTreeWidget* NewReportList(QWidget* Parent, const char* Name, const QStringList& Columns, const QList<int>& Widths);
// Fills a window that is yet to be built with a heading, a text and a
// "Kapat" button.
void BuildNotice(QDialog* Window, const QString& Heading, const QString& Text);

}  // namespace calvora::desktop
