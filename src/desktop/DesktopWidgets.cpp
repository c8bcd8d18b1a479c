#include "desktop/DesktopWidgets.h"

#include "desktop/DesktopPalette.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace calvora::desktop {

QLabel* NewLabel(const QString& Text, QWidget* Parent, const char* Name, const QFont& Font, const char* Colour) {
  auto* label = new QLabel(Text, Parent);
  if (Name) label->setObjectName(Name);
  label->setFont(Font);
  label->setStyleSheet(QString("color: %1; background: transparent;").arg(QString(Colour)));
  return label;
}

QTreeWidget* NewReportList(QWidget* Parent, const char* Name, const QStringList& Columns, const QList<int>& Widths) {
  auto* list = new QTreeWidget(Parent);
  list->setObjectName(Name);
  list->setColumnCount(static_cast<int>(Columns.size()));
  list->setHeaderLabels(Columns);
  for (int i = 0; i < Widths.size(); ++i) list->setColumnWidth(i, Widths[i]);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->header()->setStretchLastSection(true);
  list->header()->setSectionsMovable(false);
  return list;
}

void BuildNotice(QDialog* Window, const QString& Heading, const QString& Text) {
  Window->setFont(DesktopFont(10));
  Window->setStyleSheet(DesktopStyleSheet());
  Window->setMinimumWidth(480);
  auto* column = new QVBoxLayout(Window);
  column->setContentsMargins(24, 20, 24, 16);
  column->setSpacing(10);
  column->addWidget(NewLabel(Heading, Window, "lblTitle", DesktopFont(13, true), palette::kText));
  QLabel* text = NewLabel(Text, Window, "lblNotice", DesktopFont(10), palette::kMuted);
  text->setWordWrap(true);
  column->addWidget(text);
  column->addStretch();
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* close = new QPushButton("Kapat", Window);
  close->setObjectName("btnClose");
  close->setDefault(true);
  QObject::connect(close, &QPushButton::clicked, Window, &QDialog::reject);
  buttons->addWidget(close);
  column->addLayout(buttons);
}

}  // namespace calvora::desktop
