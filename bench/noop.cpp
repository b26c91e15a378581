// The baseline: a program that does nothing, built and linked like argreport.
int main()
{
    return 0;
}
