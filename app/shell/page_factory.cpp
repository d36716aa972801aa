#include "app/shell/page_factory.h"

#include "app/shell/home_page.h"
#include "app/shell/messages.h"
#include "app/shell/pages/cd/cd_page.h"
#include "app/shell/pages/live/live_page.h"
#include "app/shell/pages/media/media_page.h"
#include "app/shell/pages/network/network_page.h"
#include "app/shell/pages/player/player_page.h"
#include "app/shell/pages/tags/tag_editor_page.h"

namespace quil::shell {

std::unique_ptr<Page> CreatePage(int index, PageHost& host, QWidget* parent) {
    switch (index) {
        case kLivePage:
            return std::make_unique<LivePage>(host, parent);
        case kMediaPage:
            return std::make_unique<MediaPage>(host, parent);
        case kCdPage:
            return std::make_unique<CdPage>(host, parent);
        case kNetworkPage:
            return std::make_unique<network::NetworkPage>(host, parent);
        case kPlayerPage:
            return std::make_unique<PlayerPage>(host, parent);
        case kTagPage:
            return std::make_unique<TagEditorPage>(host, parent);
        case kHomePage:
            return std::make_unique<HomePage>(host, parent);
        default:
            return std::make_unique<EmptyPage>(host, parent);
    }
}

}  // namespace quil::shell
