// Does nothing: the file exists for its version resource.
int main() {
  return 0;
}
