#include "Medium.h"

namespace kx::media {

void Medium::close(Medium* medium) {
    delete medium;
}

}  // namespace kx::media
