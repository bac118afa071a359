#include "platform/uikit/UITableView.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/NSException.h"

// ---- Delegate defaults ----

double UITableViewDelegate::tableViewHeightForRowAtIndexPath(UITableView& tableView, const NSIndexPath&) {
  return tableView.rowHeight();
}

double UITableViewDelegate::tableViewHeightForHeaderInSection(UITableView& tableView, int64_t) {
  return tableView.sectionHeaderHeight();
}

// ---- Cells ----

// The content view is made with the cell and put into it once the cell is owned (a view cannot be
// a superview while it is being constructed): when the cell joins a tree or is first laid out.
UITableViewCell::UITableViewCell(std::string reuseIdentifier) : reuseIdentifier_(std::move(reuseIdentifier)) {
  contentView_ = std::make_shared<UIView>();
}

void UITableViewCell::attachContentView() {
  if (contentView_->superview().get() != this) insertSubview(contentView_, 0);
}

void UITableViewCell::didMoveToSuperview() { attachContentView(); }

void UITableViewCell::setSelected(bool selected, bool) {
  if (selected_ == selected) return;
  selected_ = selected;
  setNeedsDisplay();
}

void UITableViewCell::setHighlighted(bool highlighted, bool) {
  if (highlighted_ == highlighted) return;
  highlighted_ = highlighted;
  setNeedsDisplay();
}

void UITableViewCell::setSelectedBackgroundColor(UIColorRef color) {
  selectedBackgroundColor_ = std::move(color);
  setNeedsDisplay();
}

void UITableViewCell::setSeparatorColor(UIColorRef color) {
  separatorColor_ = std::move(color);
  setNeedsDisplay();
}

void UITableViewCell::setSeparatorInset(double inset) {
  separatorInset_ = std::isfinite(inset) ? std::max(0.0, inset) : 0;
  setNeedsDisplay();
}

void UITableViewCell::prepareForReuse() {
  setSelected(false);
  setHighlighted(false);
}

void UITableViewCell::layoutSubviews() {
  attachContentView();
  // The content fills the cell; its own subviews are placed by its constraints.
  contentView_->setFrame(bounds());
  setNeedsDisplay();
}

void UITableViewCell::drawRect(const CGRect&) {
  CGContextRef c = UIGraphicsGetCurrentContext();
  const CGRect b = bounds();
  if ((selected_ || highlighted_) && selectedBackgroundColor_) {
    CGContextSetFillColorWithColor(c, selectedBackgroundColor_);
    CGContextFillRect(c, b);
  }
  if (separatorColor_) {
    CGContextSetFillColorWithColor(c, separatorColor_);
    CGContextFillRect(c, CGRectMake(b.origin.x + separatorInset_, CGRectGetMaxY(b) - 0.5,
                                    std::max(0.0, b.size.width - separatorInset_), 0.5));
  }
}

UITableViewHeaderFooterView::UITableViewHeaderFooterView(std::string reuseIdentifier)
    : reuseIdentifier_(std::move(reuseIdentifier)) {
  contentView_ = std::make_shared<UIView>();
  contentView_->setBackgroundColor(UIColor::colorWithWhite(0.93, 1));
  textLabel_ = std::make_shared<UILabel>();
  textLabel_->setFont(UIFont::systemFontOfSize(13));
  textLabel_->setTextColor(UIColor::colorWithWhite(0.43, 1));
}

void UITableViewHeaderFooterView::attachContentView() {
  if (contentView_->superview().get() != this) insertSubview(contentView_, 0);
  if (textLabel_->superview() != contentView_) contentView_->addSubview(textLabel_);
}

void UITableViewHeaderFooterView::didMoveToSuperview() { attachContentView(); }

void UITableViewHeaderFooterView::layoutSubviews() {
  attachContentView();
  const CGRect b = bounds();
  contentView_->setFrame(b);
  // The title sits at the bottom of the header, as the platform's grouped headers do.
  const double h = std::min(b.size.height, 20.0);
  textLabel_->setFrame(CGRectMake(15, b.size.height - h - 6, std::max(0.0, b.size.width - 30), h));
}

// ---- The table ----

UITableView::UITableView() : UITableView(CGRectZero) {}

UITableView::UITableView(const CGRect& frame) : UIScrollView(frame) { setClipsToBounds(true); }

void UITableView::setDataSource(const std::shared_ptr<UITableViewDataSource>& dataSource) {
  dataSource_ = dataSource;
  measured_ = false;
  setNeedsLayout();
}

void UITableView::setDelegate(const std::shared_ptr<UITableViewDelegate>& delegate) {
  delegate_ = delegate;
  measured_ = false;
  setNeedsLayout();
}

double UITableView::clean(double height) const { return std::isfinite(height) && height > 0 ? height : 0; }

void UITableView::registerCellFactory(const std::string& identifier, CellFactory factory) {
  factories_[identifier] = std::move(factory);
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(const std::string& identifier,
                                                                                const NSIndexPath&) {
  auto& pool = pool_[identifier];
  if (!pool.empty()) {
    auto cell = pool.back();
    pool.pop_back();
    cell->prepareForReuse();
    return cell;
  }
  auto factory = factories_.find(identifier);
  if (factory == factories_.end() || !factory->second) {
    NSException::raise(NSInternalInconsistencyException,
                       "unable to dequeue a cell with identifier %s - must register a nib or a class for the "
                       "identifier or connect a prototype cell in a storyboard",
                       identifier.c_str());
  }
  auto cell = factory->second();
  if (!cell) NSException::raise(NSInternalInconsistencyException, "the cell factory for %s made no cell", identifier.c_str());
  return cell;
}

int64_t UITableView::numberOfRowsInSection(int64_t section) const {
  if (section < 0 || section >= numberOfSections()) return 0;
  return int64_t(sections_[size_t(section)].rowY.size());
}

void UITableView::recycle(const std::shared_ptr<UITableViewCell>& cell) {
  cell->removeFromSuperview();
  cell->setHighlighted(false);
  pool_[cell->reuseIdentifier()].push_back(cell);
}

// Asks for every section's header and row heights and lays them out one under another.
void UITableView::measure() {
  sections_.clear();
  measured_ = true;
  auto source = dataSource();
  if (!source) {
    setContentSize({bounds().size.width, 0});
    return;
  }
  auto delegate = this->delegate();
  const int64_t count = std::max<int64_t>(0, source->numberOfSectionsInTableView(*this));
  double y = 0;
  for (int64_t s = 0; s < count; ++s) {
    Section section;
    section.headerY = y;
    section.headerHeight = clean(delegate ? delegate->tableViewHeightForHeaderInSection(*this, s) : sectionHeaderHeight_);
    y += section.headerHeight;
    const int64_t rows = std::max<int64_t>(0, source->tableViewNumberOfRowsInSection(*this, s));
    for (int64_t r = 0; r < rows; ++r) {
      const double h = clean(delegate ? delegate->tableViewHeightForRowAtIndexPath(*this, {s, r}) : rowHeight_);
      section.rowY.push_back(y);
      section.rowHeight.push_back(h);
      y += h;
    }
    sections_.push_back(std::move(section));
  }
  setContentSize({bounds().size.width, y});
}

void UITableView::reloadData() {
  for (auto& [path, cell] : visibleCells_) recycle(cell);
  visibleCells_.clear();
  for (auto& [section, header] : visibleHeaders_) header->removeFromSuperview();
  visibleHeaders_.clear();
  if (selected_) selected_.reset();
  measure();
  layoutVisible();
}

CGRect UITableView::rectForRowAtIndexPath(const NSIndexPath& p) const {
  if (p.section < 0 || p.section >= numberOfSections()) return CGRectZero;
  const Section& s = sections_[size_t(p.section)];
  if (p.row < 0 || p.row >= int64_t(s.rowY.size())) return CGRectZero;
  return CGRectMake(0, s.rowY[size_t(p.row)], bounds().size.width, s.rowHeight[size_t(p.row)]);
}

CGRect UITableView::rectForHeaderInSection(int64_t section) const {
  if (section < 0 || section >= numberOfSections()) return CGRectZero;
  const Section& s = sections_[size_t(section)];
  return CGRectMake(0, s.headerY, bounds().size.width, s.headerHeight);
}

std::shared_ptr<UITableViewCell> UITableView::cellForRowAtIndexPath(const NSIndexPath& p) const {
  auto it = visibleCells_.find(p);
  return it == visibleCells_.end() ? nullptr : it->second;
}

std::optional<NSIndexPath> UITableView::indexPathForCell(const UITableViewCell& cell) const {
  for (const auto& [path, shown] : visibleCells_)
    if (shown.get() == &cell) return path;
  return std::nullopt;
}

std::optional<NSIndexPath> UITableView::indexPathForRowAtPoint(CGPoint point) const {
  for (size_t s = 0; s < sections_.size(); ++s) {
    const Section& section = sections_[s];
    for (size_t r = 0; r < section.rowY.size(); ++r) {
      if (point.y >= section.rowY[r] && point.y < section.rowY[r] + section.rowHeight[r]) return NSIndexPath{int64_t(s), int64_t(r)};
    }
  }
  return std::nullopt;
}

std::shared_ptr<UIView> UITableView::headerViewForSection(int64_t section) const {
  auto it = visibleHeaders_.find(section);
  return it == visibleHeaders_.end() ? nullptr : it->second;
}

std::vector<NSIndexPath> UITableView::indexPathsForVisibleRows() const {
  std::vector<NSIndexPath> paths;
  for (const auto& [path, cell] : visibleCells_) paths.push_back(path);
  return paths;
}

// Shows the headers and rows that meet the visible rectangle and recycles the cells of rows that
// left it.
void UITableView::layoutVisible() {
  if (!measured_) return;
  auto source = dataSource();
  auto delegate = this->delegate();
  const CGRect visible = bounds();
  const double top = visible.origin.y, bottom = visible.origin.y + visible.size.height;
  auto inView = [&](double y, double h) { return h > 0 && y + h > top && y < bottom; };

  for (auto it = visibleCells_.begin(); it != visibleCells_.end();) {
    const CGRect r = rectForRowAtIndexPath(it->first);
    if (!inView(r.origin.y, r.size.height)) {
      recycle(it->second);
      it = visibleCells_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = visibleHeaders_.begin(); it != visibleHeaders_.end();) {
    const CGRect r = rectForHeaderInSection(it->first);
    if (!inView(r.origin.y, r.size.height)) {
      it->second->removeFromSuperview();
      it = visibleHeaders_.erase(it);
    } else {
      ++it;
    }
  }
  if (!source) return;
  for (size_t s = 0; s < sections_.size(); ++s) {
    const Section& section = sections_[s];
    const int64_t sectionIndex = int64_t(s);
    if (inView(section.headerY, section.headerHeight) && !visibleHeaders_.count(sectionIndex)) {
      std::shared_ptr<UIView> header = delegate ? delegate->tableViewViewForHeaderInSection(*this, sectionIndex) : nullptr;
      if (!header) {
        auto standard = std::make_shared<UITableViewHeaderFooterView>();
        standard->textLabel()->setText(source->tableViewTitleForHeaderInSection(*this, sectionIndex));
        header = standard;
      }
      if (delegate) delegate->tableViewWillDisplayHeaderView(*this, header, sectionIndex);
      header->setFrame(rectForHeaderInSection(sectionIndex));
      addSubview(header);
      visibleHeaders_[sectionIndex] = header;
    } else if (auto shown = headerViewForSection(sectionIndex)) {
      shown->setFrame(rectForHeaderInSection(sectionIndex));
    }
    for (size_t r = 0; r < section.rowY.size(); ++r) {
      const NSIndexPath path{sectionIndex, int64_t(r)};
      if (!inView(section.rowY[r], section.rowHeight[r])) continue;
      auto cell = cellForRowAtIndexPath(path);
      if (!cell) {
        cell = source->tableViewCellForRowAtIndexPath(*this, path);
        if (!cell) {
          NSException::raise(NSInternalInconsistencyException, "the data source gave no cell for row %lld of section %lld",
                             static_cast<long long>(r), static_cast<long long>(s));
        }
        cell->setSelected(selected_ && *selected_ == path);
        insertSubview(cell, 0);  // under the headers
        visibleCells_[path] = cell;
      }
      cell->setFrame(rectForRowAtIndexPath(path));
    }
  }
}

void UITableView::layoutSubviews() {
  UIScrollView::layoutSubviews();
  if (!measured_) {
    measure();
  } else if (contentSize().width != bounds().size.width) {
    setContentSize({bounds().size.width, contentSize().height});
  }
  layoutVisible();
}

void UITableView::selectRowAtIndexPath(const NSIndexPath& p, bool animated) {
  if (selected_ && *selected_ != p) {
    if (auto old = cellForRowAtIndexPath(*selected_)) old->setSelected(false, animated);
  }
  selected_ = p;
  if (auto cell = cellForRowAtIndexPath(p)) cell->setSelected(true, animated);
}

void UITableView::deselectRowAtIndexPath(const NSIndexPath& p, bool animated) {
  if (auto cell = cellForRowAtIndexPath(p)) cell->setSelected(false, animated);
  if (selected_ && *selected_ == p) selected_.reset();
}

void UITableView::scrollToRowAtIndexPath(const NSIndexPath& p) {
  const CGRect r = rectForRowAtIndexPath(p);
  if (r.size.height <= 0) return;
  CGPoint offset = contentOffset();
  if (r.origin.y < offset.y) offset.y = r.origin.y;
  else if (CGRectGetMaxY(r) > offset.y + bounds().size.height) offset.y = CGRectGetMaxY(r) - bounds().size.height;
  setContentOffset(offset);
}

// ---- Touches: press highlights the row, a drag scrolls, a release selects ----

void UITableView::touchesBegan(const UITouchSet& touches, const UIEvent* event) {
  UIScrollView::touchesBegan(touches, event);
  pressed_.reset();
  if (touches.empty()) return;
  pressed_ = indexPathForRowAtPoint(touches.front()->locationInView(this));
  if (pressed_) {
    if (auto cell = cellForRowAtIndexPath(*pressed_)) cell->setHighlighted(true);
  }
}

void UITableView::touchesMoved(const UITouchSet& touches, const UIEvent* event) {
  UIScrollView::touchesMoved(touches, event);
  if (pressed_ && isDragging()) {
    if (auto cell = cellForRowAtIndexPath(*pressed_)) cell->setHighlighted(false);
    pressed_.reset();
  }
}

void UITableView::touchesEnded(const UITouchSet& touches, const UIEvent* event) {
  const auto pressed = pressed_;
  pressed_.reset();
  UIScrollView::touchesEnded(touches, event);
  if (!pressed || touches.empty()) return;
  auto keep = shared_from_this();
  if (auto cell = cellForRowAtIndexPath(*pressed)) cell->setHighlighted(false);
  if (indexPathForRowAtPoint(touches.front()->locationInView(this)) != pressed) return;
  selectRowAtIndexPath(*pressed, false);
  if (auto delegate = this->delegate()) delegate->tableViewDidSelectRowAtIndexPath(*this, *pressed);
}

void UITableView::touchesCancelled(const UITouchSet& touches, const UIEvent* event) {
  if (pressed_) {
    if (auto cell = cellForRowAtIndexPath(*pressed_)) cell->setHighlighted(false);
    pressed_.reset();
  }
  UIScrollView::touchesCancelled(touches, event);
}
