/* A resource-only library: no code runs when it is loaded as a data file. */
int kx_branding_resource_only;
