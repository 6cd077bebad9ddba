#include "app/FirstRunOffer.h"

#include "core/ProgramInfo.h"

namespace quavera {

namespace {

constexpr char kFirstRunOfferTitle[] = "Quavera-提示";
constexpr char kFirstRunOfferText[] = "本提示是在您第一次启动本软件的时候提示，以后将不再提示！"
                                      "是否将114r上网导航设置为您浏览器的首页?"
                                      "支持我们，请点确定。谢谢！";
constexpr char kFirstRunMarkerText[] = "mp";

} // namespace

void RunFirstRunOffer(RegistryStrings& registry, MessageBoxes& messageBoxes) {
    // Any non-empty marker means the question was asked before.
    if (registry.ReadFirstRunMarker().empty()) {
        const MessageAnswer answer = messageBoxes.show(kFirstRunOfferText, kFirstRunOfferTitle,
                                                       MessageIcon::None, MessageButtons::OkCancel);
        if (answer == MessageAnswer::Ok) {
            registry.SetBrowserStartPage(info::kHomePageAddress);
        }
    }
    registry.WriteFirstRunMarker(kFirstRunMarkerText);
}

} // namespace quavera
