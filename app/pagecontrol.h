// The page control of the main window: every page caption is visible at once,
// in as many rows as the width needs (QTabBar scrolls one row instead), above
// a stack of pages. Keeps the part of the QTabWidget interface the windows and
// uic use.
#pragma once
#include <QAbstractButton>
#include <QList>
#include <QWidget>

class QButtonGroup;
class QStackedWidget;

// One caption of the tab rows.
class PageTab : public QAbstractButton {
  Q_OBJECT
 public:
  explicit PageTab(const QString& text, QWidget* parent = nullptr);
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  // Where the tab sits in its row (drawn edges depend on it).
  void setRowPosition(bool first, bool last);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool first_ = true;
  bool last_ = true;
};

// The caption rows: wraps the tabs onto further rows and stretches each row
// to the full width, as multi-line tabs do.
class MultiRowTabBar : public QWidget {
  Q_OBJECT
 public:
  explicit MultiRowTabBar(QWidget* parent = nullptr);
  void insertTab(int index, PageTab* tab);
  void removeTab(int index);
  PageTab* tab(int index) const { return tabs_.value(index); }
  int count() const { return tabs_.size(); }
  // Rows the tabs take at the current width.
  int rowCount() const;
  // Row of tab `index` at the current width (0 = top).
  int rowOf(int index) const;

  // Height of the rows at this width.
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  // Splits the tabs into rows for `width`: the first tab index of each row.
  QList<int> rowStarts(int width) const;
  int rowHeight() const;
  void relayout();

  QList<PageTab*> tabs_;
};

class PageControl : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int currentIndex READ currentIndex WRITE setCurrentIndex NOTIFY currentChanged)
  Q_PROPERTY(int count READ count)
 public:
  explicit PageControl(QWidget* parent = nullptr);

  int addTab(QWidget* page, const QString& caption);
  int insertTab(int index, QWidget* page, const QString& caption);
  void removeTab(int index);
  int count() const;
  int indexOf(const QWidget* page) const;
  QWidget* widget(int index) const;
  QWidget* currentWidget() const;
  int currentIndex() const;
  QString tabText(int index) const;
  void setTabText(int index, const QString& caption);
  void setTabToolTip(int index, const QString& tip);
  void setTabEnabled(int index, bool enabled);
  bool isTabEnabled(int index) const;
  MultiRowTabBar* tabBar() const { return bar_; }

 public Q_SLOTS:
  void setCurrentIndex(int index);
  void setCurrentWidget(QWidget* page);

 Q_SIGNALS:
  // After the page in front changed (by the user or the program).
  void currentChanged(int index);

 protected:
  // Ctrl+Tab / Ctrl+PgDown and Ctrl+Shift+Tab / Ctrl+PgUp change the page, as
  // in any tab widget.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void renumber();

  MultiRowTabBar* bar_;
  QStackedWidget* stack_;
  QButtonGroup* group_;
};
