// Anchor source for libtarvelon.so; all code comes from the client libraries.
