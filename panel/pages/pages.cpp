#include "panel/pages/pages.h"

#include "panel/pages/agc_page.h"
#include "panel/pages/alc_page.h"
#include "panel/pages/aperture_page.h"
#include "panel/pages/blc_page.h"
#include "panel/pages/colour_page.h"
#include "panel/pages/lens_page.h"
#include "panel/pages/motion_page.h"
#include "panel/pages/other_page.h"
#include "panel/pages/position_page.h"
#include "panel/pages/title_page.h"

namespace zp {

std::vector<TPage*> CreatePages(TCameraLink& link, QWidget* parent) {
    return {new TTitlePage(link, parent),    new TLensPage(link, parent),
            new TAgcPage(link, parent),      new TAlcPage(link, parent),
            new TBlcPage(link, parent),      new TColourPage(link, parent),
            new TAperturePage(link, parent), new TMotionPage(link, parent),
            new TPositionPage(link, parent), new TOtherPage(link, parent)};
}

}  // namespace zp
