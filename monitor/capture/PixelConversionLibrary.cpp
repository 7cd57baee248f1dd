#include "PixelConversionLibrary.h"

#include "platform/ProgramDirectory.h"

#include <dlfcn.h>

namespace gardivo {

PixelConversionLibrary::PixelConversionLibrary(const std::string& programDirectory)
    : m_path(joinPath(programDirectory, kFileName)) {
    m_handle = ::dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle)
        return;
    m_convertToRgb = reinterpret_cast<ConvertFunction>(::dlsym(m_handle, "ConvertToRGB"));
    m_convertToYuy2 = reinterpret_cast<ConvertFunction>(::dlsym(m_handle, "ConvertToYUY2"));
    m_memcpy = reinterpret_cast<CopyFunction>(::dlsym(m_handle, "memcpyMMX"));
    if (!m_convertToRgb) {
        ::dlclose(m_handle);
        m_handle = nullptr;
        m_convertToYuy2 = nullptr;
        m_memcpy = nullptr;
    }
}

PixelConversionLibrary::~PixelConversionLibrary() {
    if (m_handle)
        ::dlclose(m_handle);
}

bool PixelConversionLibrary::convertToRgb(const GardivoBitmapInfoHeader& header, uint8_t* destination,
                                          const uint8_t* source) const {
    if (!m_convertToRgb)
        return false;
    m_convertToRgb(&header, destination, source);
    return true;
}

} // namespace gardivo
