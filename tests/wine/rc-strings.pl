#!/usr/bin/perl
# Reads what a resource script gives the executable, so that the suite's
# expectations come from the same script the executable was built from:
#
#   rc-strings.pl SCRIPT string ID LANGID   the text of string ID in the table of
#                                           LANGID (decimal), UTF-8, escapes
#                                           resolved; exit 1 when it has none
#   rc-strings.pl SCRIPT txt                one line per TXT resource: ID <TAB>
#                                           the file's path, as windres finds it
#
# Understands the forms the shipped script uses: LANGUAGE with numbers,
# STRINGTABLE BEGIN ... END with one `ID "text"` (or `ID, "text"`) per line,
# and `ID TXT "file"`.
use strict;
use warnings;
use File::Basename qw(dirname);
use File::Spec;

binmode STDOUT, ':encoding(UTF-8)';

my ($script, $what, @rest) = @ARGV;
die "usage: rc-strings.pl SCRIPT string ID LANGID | SCRIPT txt\n"
    unless defined $what && ($what eq 'txt' || ($what eq 'string' && @rest == 2));

sub number {
    my ($text) = @_;
    return $text =~ /^0x/i ? hex $text : $text =~ /^\d+$/ ? $text : die "rc-strings.pl: '$text' is not a number\n";
}

# The escapes windres resolves in a quoted string; "" is a quote.
sub unquote {
    my ($body) = @_;
    my %simple = (n => "\n", t => "\t", r => "\r", a => "\a", '\\' => '\\', '"' => '"');
    $body =~ s/""|\\([ntra\\"])/defined $1 ? $simple{$1} : '"'/ge;
    return $body;
}

open my $in, '<:encoding(UTF-8)', $script or die "rc-strings.pl: cannot read $script: $!\n";
my $language = 0;
my $in_table = 0;
my (%strings, @txt);
while (my $line = <$in>) {
    $line =~ s/\r?\n\z//;
    next if $line =~ m{^\s*(?://.*)?$};
    if ($line =~ /^\s*LANGUAGE\s+(\w+)\s*,\s*(\w+)/) {
        $language = (number($2) << 10) | number($1);
    } elsif ($line =~ /^\s*STRINGTABLE\b/) {
        $in_table = 1;
    } elsif ($in_table && $line =~ /^\s*(BEGIN|\{)\s*$/) {
        next;
    } elsif ($in_table && $line =~ /^\s*(END|\})\s*$/) {
        $in_table = 0;
    } elsif ($in_table && $line =~ /^\s*(\w+)\s*,?\s*L?"((?:[^"]|"")*)"\s*$/) {
        $strings{ number($1) . ' ' . $language } = unquote($2);
    } elsif (!$in_table && $line =~ /^\s*(\d+)\s+TXT\s+"((?:[^"\\]|\\.)*)"/) {
        my $file = unquote($2);
        $file = File::Spec->catfile(dirname($script), $file) unless File::Spec->file_name_is_absolute($file);
        push @txt, [$1, $file];
    }
}
close $in;

if ($what eq 'txt') {
    print "$_->[0]\t$_->[1]\n" for sort { $a->[0] <=> $b->[0] } @txt;
    exit 0;
}
my $key = number($rest[0]) . ' ' . number($rest[1]);
exit 1 unless exists $strings{$key};
print $strings{$key};
