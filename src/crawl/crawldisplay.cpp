#include "crawl/crawldisplay.h"

namespace kelvra::crawl {

void CrawlDisplay::Outcome(int, const FetchOutcome&) {}

}  // namespace kelvra::crawl
