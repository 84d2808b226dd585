#include "device/device_content.h"

namespace vireo {

ContentFactory BasicContentFactory()
{
    return [](const ContentHost&) { return std::make_unique<BasicDeviceContent>(); };
}

} // namespace vireo
