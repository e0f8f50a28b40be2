// One grab buffer: memory that the stream grabber fills, owned by the location.
#include "pylon_grabber.h"

CGrabBuffer::CGrabBuffer(size_t size) : m_pBuffer(new uint8_t[size]) {}

CGrabBuffer::~CGrabBuffer()
{
    delete[] m_pBuffer;
}
