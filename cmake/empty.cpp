// The shared library is made of the core archive; its exports live there.
