// Vantrel's entry. The program exports the driver-API functions (linked in
// from bridge/); the service's start-up and shut-down land here with the
// service itself. Until then the program starts and ends at once.
int main() {
  return 0;
}
