#include "pages.h"

#include "agc_page.h"
#include "alc_page.h"
#include "aperture_page.h"
#include "blc_page.h"
#include "colour_page.h"
#include "lens_page.h"
#include "motion_page.h"
#include "other_page.h"
#include "position_page.h"
#include "title_page.h"

namespace zp {

std::vector<TPage*> CreatePages(TCameraLink& link, QWidget* parent) {
    return {new TTitlePage(link, parent),    new TLensPage(link, parent),
            new TAgcPage(link, parent),      new TAlcPage(link, parent),
            new TBlcPage(link, parent),      new TColourPage(link, parent),
            new TAperturePage(link, parent), new TMotionPage(link, parent),
            new TPositionPage(link, parent), new TOtherPage(link, parent)};
}

}  // namespace zp
