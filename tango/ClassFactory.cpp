// Tango asks every device server for its classes by this one function.
#include <tango.h>

#include "tango/Tessivo128Class.h"

void Tango::DServer::class_factory()
{
    add_class(Tessivo128Class::init(Tessivo128Class::kName));
}
