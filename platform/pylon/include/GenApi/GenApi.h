// Everything a user of GenApi node maps needs.
#pragma once

#include <GenICam/GCException.h>
#include <GenApi/Types.h>
#include <GenApi/Interfaces.h>
#include <GenApi/Pointer.h>
#include <GenApi/NodeMapFactory.h>
