// Keeps the Win32 adapter library non-empty while the adapters are being written.
namespace x5 {
int WinAdaptersLinked() { return 1; }
}  // namespace x5
