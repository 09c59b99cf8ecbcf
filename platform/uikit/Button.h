#pragma once
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/uikit/Control.h"
#include "platform/uikit/Image.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"

namespace uikit {

/// A button: a title and an image per control state, shown by its title label and image view.
class UIButton : public UIControl {
 public:
  static std::shared_ptr<UIButton> create(const CGRect& frame = {});
  std::string className() const override { return "UIButton"; }
  /// The title of `state`, else the normal one.
  std::string titleForState(unsigned state) const;
  void setTitle(std::string title, unsigned state);
  std::shared_ptr<UIImage> imageForState(unsigned state) const;
  void setImage(std::shared_ptr<UIImage> image, unsigned state);
  std::optional<UIColor> titleColorForState(unsigned state) const;
  void setTitleColor(UIColor color, unsigned state);
  unsigned state() const;
  const std::shared_ptr<UILabel>& titleLabel();
  const std::shared_ptr<UIImageView>& imageView();
  UIEdgeInsets contentEdgeInsets;

  void setEnabled(bool enabled) override;
  void setHighlighted(bool highlighted) override;
  void setSelected(bool selected) override;
  CGSize intrinsicContentSize() const override;
  void layoutSubviews() override;
  /// A title without a colour of its own follows the inherited tint.
  void tintColorDidChange() override;

 private:
  void refresh();
  void centerTitle();
  std::map<unsigned, std::string> titles_;
  std::map<unsigned, std::shared_ptr<UIImage>> images_;
  std::map<unsigned, UIColor> titleColors_;
  std::shared_ptr<UILabel> titleLabel_;
  std::shared_ptr<UIImageView> imageView_;
};

}  // namespace uikit
