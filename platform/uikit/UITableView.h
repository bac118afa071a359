#pragma once
// Tables: a scrolling list of rows grouped in sections, each section under an optional header.
// The data source says how many sections and rows there are and makes (or reuses) the cell of a
// row; the delegate gives heights and header views and hears selections. Only the rows and headers
// in view have views: scrolling hands the cells that leave to a reuse pool by identifier, from
// which dequeueReusableCellWithIdentifier takes them again (a pool miss makes a new cell with the
// factory registered for the identifier, as the platform makes a storyboard's prototype cell).
//
// A touch that ends on a row without having become a drag selects it: the cell is selected and the
// delegate told. The data source and the delegate are held weakly. Main thread only.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/UILabel.h"
#include "platform/uikit/UIScrollView.h"

class UITableView;
class UITableViewCell;

// A row's place: section and row within it.
struct NSIndexPath {
  int64_t section = 0;
  int64_t row = 0;
  bool operator==(const NSIndexPath&) const = default;
  auto operator<=>(const NSIndexPath&) const = default;
};

class UITableViewDataSource {
 public:
  virtual ~UITableViewDataSource() = default;
  virtual int64_t numberOfSectionsInTableView(UITableView& tableView) { return 1; }
  virtual int64_t tableViewNumberOfRowsInSection(UITableView& tableView, int64_t section) = 0;
  virtual std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView& tableView,
                                                                         const NSIndexPath& indexPath) = 0;
  // A title for a standard section header (used when the delegate gives no header view).
  virtual std::optional<std::string> tableViewTitleForHeaderInSection(UITableView& tableView, int64_t section) {
    return std::nullopt;
  }
};

class UITableViewDelegate {
 public:
  virtual ~UITableViewDelegate() = default;
  // Heights; the defaults are the table's rowHeight and sectionHeaderHeight.
  virtual double tableViewHeightForRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath);
  virtual double tableViewHeightForHeaderInSection(UITableView& tableView, int64_t section);
  // A header view of the delegate's own; none: a standard header with the data source's title.
  virtual std::shared_ptr<UIView> tableViewViewForHeaderInSection(UITableView& tableView, int64_t section) {
    return nullptr;
  }
  // Just before a header view comes into view.
  virtual void tableViewWillDisplayHeaderView(UITableView& tableView, const std::shared_ptr<UIView>& view,
                                              int64_t section) {}
  virtual void tableViewDidSelectRowAtIndexPath(UITableView& tableView, const NSIndexPath& indexPath) {}
};

// A row's view. Its content goes into contentView; the cell draws its selection (and highlight)
// background and a separator line under the content.
class UITableViewCell : public UIView {
 public:
  explicit UITableViewCell(std::string reuseIdentifier = "");

  const std::string& reuseIdentifier() const { return reuseIdentifier_; }
  const std::shared_ptr<UIView>& contentView() const { return contentView_; }
  bool isSelected() const { return selected_; }
  virtual void setSelected(bool selected, bool animated = false);
  virtual void setHighlighted(bool highlighted, bool animated = false);
  // Drawn under the content while selected or highlighted; none: nothing is drawn.
  void setSelectedBackgroundColor(UIColorRef color);
  // The line under the row (none: no line), inset from the left edge.
  void setSeparatorColor(UIColorRef color);
  void setSeparatorInset(double inset);

  // Called when the storyboard has built the cell (outlets connected).
  virtual void awakeFromNib() {}
  // Called before a cell from the reuse pool is handed out again.
  virtual void prepareForReuse();

  void layoutSubviews() override;
  void drawRect(const CGRect& rect) override;

 protected:
  void didMoveToSuperview() override;

 private:
  void attachContentView();
  std::string reuseIdentifier_;
  std::shared_ptr<UIView> contentView_;
  bool selected_ = false, highlighted_ = false;
  UIColorRef selectedBackgroundColor_;
  UIColorRef separatorColor_;
  double separatorInset_ = 15;
};

// The standard section header: a content view and a text label.
class UITableViewHeaderFooterView : public UIView {
 public:
  explicit UITableViewHeaderFooterView(std::string reuseIdentifier = "");
  const std::shared_ptr<UIView>& contentView() const { return contentView_; }
  const std::shared_ptr<UILabel>& textLabel() const { return textLabel_; }
  void layoutSubviews() override;

 protected:
  void didMoveToSuperview() override;

 private:
  void attachContentView();
  std::string reuseIdentifier_;
  std::shared_ptr<UIView> contentView_;
  std::shared_ptr<UILabel> textLabel_;
};

class UITableView : public UIScrollView {
 public:
  UITableView();
  explicit UITableView(const CGRect& frame);

  std::shared_ptr<UITableViewDataSource> dataSource() const { return dataSource_.lock(); }
  void setDataSource(const std::shared_ptr<UITableViewDataSource>& dataSource);
  std::shared_ptr<UITableViewDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<UITableViewDelegate>& delegate);

  double rowHeight() const { return rowHeight_; }
  double sectionHeaderHeight() const { return sectionHeaderHeight_; }

  // registerClass:forCellReuseIdentifier: — how a cell of the identifier is made when the pool has
  // none.
  using CellFactory = std::function<std::shared_ptr<UITableViewCell>()>;
  void registerCellFactory(const std::string& identifier, CellFactory factory);
  // dequeueReusableCellWithIdentifier:forIndexPath: — a cell from the pool, else a new one; an
  // identifier nothing was registered for raises NSInternalInconsistencyException.
  std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                     const NSIndexPath& indexPath);

  // Asks the data source and the delegate again and shows the rows in view anew.
  void reloadData();
  int64_t numberOfSections() const { return int64_t(sections_.size()); }
  int64_t numberOfRowsInSection(int64_t section) const;

  // The row's and the header's rectangles in content coordinates (zero when there is none).
  CGRect rectForRowAtIndexPath(const NSIndexPath& indexPath) const;
  CGRect rectForHeaderInSection(int64_t section) const;
  // The cell shown for the row (none while it is out of view), the row of a shown cell, the row
  // at a point of the content.
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(const NSIndexPath& indexPath) const;
  std::optional<NSIndexPath> indexPathForCell(const UITableViewCell& cell) const;
  std::optional<NSIndexPath> indexPathForRowAtPoint(CGPoint point) const;
  // The header view shown for the section (none while it is out of view).
  std::shared_ptr<UIView> headerViewForSection(int64_t section) const;
  std::vector<NSIndexPath> indexPathsForVisibleRows() const;

  void selectRowAtIndexPath(const NSIndexPath& indexPath, bool animated);
  void deselectRowAtIndexPath(const NSIndexPath& indexPath, bool animated);
  // Brings the row into view.
  void scrollToRowAtIndexPath(const NSIndexPath& indexPath);

  void layoutSubviews() override;
  void touchesBegan(const UITouchSet& touches, const UIEvent* event) override;
  void touchesMoved(const UITouchSet& touches, const UIEvent* event) override;
  void touchesEnded(const UITouchSet& touches, const UIEvent* event) override;
  void touchesCancelled(const UITouchSet& touches, const UIEvent* event) override;

 protected:
  void contentOffsetDidChange() override { layoutVisible(); }

 private:
  struct Section {
    double headerY = 0, headerHeight = 0;
    std::vector<double> rowY, rowHeight;
  };
  void measure();
  void layoutVisible();
  void recycle(const std::shared_ptr<UITableViewCell>& cell);
  double clean(double height) const;

  std::weak_ptr<UITableViewDataSource> dataSource_;
  std::weak_ptr<UITableViewDelegate> delegate_;
  double rowHeight_ = 44, sectionHeaderHeight_ = 28;
  std::map<std::string, CellFactory> factories_;
  std::map<std::string, std::vector<std::shared_ptr<UITableViewCell>>> pool_;
  std::vector<Section> sections_;
  std::map<NSIndexPath, std::shared_ptr<UITableViewCell>> visibleCells_;
  std::map<int64_t, std::shared_ptr<UIView>> visibleHeaders_;
  std::optional<NSIndexPath> selected_;
  std::optional<NSIndexPath> pressed_;
  bool measured_ = false;
};
