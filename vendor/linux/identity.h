// Router identity of a generic Linux system, read apart from the vendor
// functions so that tests can point it at a fixture tree.
#ifndef NIMBRA_VENDOR_LINUX_IDENTITY_H
#define NIMBRA_VENDOR_LINUX_IDENTITY_H

enum identity_field { kVendorName, kRouterModel, kRouterSerial, kFwVersion, kHwVersion, kIdentityFields };

// The field from the first of its files below root ("" for this system's
// own) that has a value, or nullptr. One buffer per field, overwritten by the
// next call for that field. Not part of the library's interface.
__attribute__((visibility("hidden"))) const char *read_identity(identity_field field, const char *root);

#endif
