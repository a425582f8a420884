#!/bin/bash
# make-pages.sh DIR: ten letter pages at 300 dpi with known text (DIR/pNN.png, DIR/pNN.txt), drawn by
# ImageMagick in the DejaVu fonts: clean, skewed both ways, turned 90 and 180, noisy, low contrast,
# monospace, dark border, and a second clean page.
set -euo pipefail
dir=$1
mkdir -p "$dir"
texts=(
"The quarterly report shows that sales of scanners rose in every region except the north, where a late delivery of parts held back two large orders. Our team expects the backlog to clear within six weeks, and the forecast for the next quarter remains unchanged."
"Please send the signed contract to the legal office before Friday. If any clause needs a change, mark it in the margin and call me so that we can agree on the wording together. A copy will be kept in the archive for seven years."
"Meeting notes: the committee approved the new budget for the library, including funds for longer opening hours on weekends. Members asked for a survey of readers before the summer, and the chair promised a short written answer to every letter received."
"Dear customer, thank you for your order of three printer cartridges and one box of paper. The parcel left our warehouse this morning and should arrive within two working days. You can follow its journey with the tracking number printed below."
"Instructions: place the document face down on the glass, close the cover gently, and press the start button once. The light will move slowly across the page. Do not open the cover until the green lamp stops blinking and the display shows the word ready."
"The city council will repair the bridge over the river during the month of August. Traffic will be diverted through the market square, and buses will stop at temporary signs near the old station. Cyclists may still cross on the footpath."
"Our research group measured the temperature of the lake every hour for a full year. The results show a clear pattern of warming in late spring and a sudden drop after the first autumn storms. The data will be published with the final paper."
"Invoice number four hundred and twelve covers the repair of two office machines and the replacement of a worn roller. Payment is due within thirty days of the date above. Please quote the invoice number on every transfer you make."
"The garden behind the house was planted by my grandmother more than fifty years ago. Every summer the roses climb higher along the wall, and the apple tree gives more fruit than the whole family can eat before the first frost arrives."
"Travel policy: employees who travel for work may book economy class for flights shorter than six hours. Hotel costs are refunded up to the limit for each city listed in the appendix. Keep every receipt and submit the claim within one month."
)
page() {  # index font extra-args...
  local n=$1 font=$2; shift 2
  local f
  f=$(printf "%s/p%02d" "$dir" "$n")
  printf "%s\n" "${texts[$n]}" > "$f.txt"
  convert -size 2100x -font "$font" -pointsize 44 -interline-spacing 14 caption:"${texts[$n]}" \
    -background white -gravity north -extent 2550x3300-0-300 -units PixelsPerInch -density 300 "$@" \
    -colorspace Gray -depth 8 "$f.png"
}
page 0 DejaVu-Serif
page 1 DejaVu-Sans -background white -rotate 3 -gravity center -extent 2550x3300
page 2 DejaVu-Serif -background white -rotate -4 -gravity center -extent 2550x3300
page 3 DejaVu-Sans -rotate 90
page 4 DejaVu-Serif -rotate 180
page 5 DejaVu-Sans -attenuate 0.6 +noise Gaussian
page 6 DejaVu-Serif -level 0%,100%,1 +level 55%,85%
page 7 DejaVu-Sans-Mono
page 8 DejaVu-Serif -bordercolor black -border 90 -gravity center -extent 2550x3300
page 9 DejaVu-Sans-Bold
